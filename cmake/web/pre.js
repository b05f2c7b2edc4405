// Runs before the game's main(): the player's folder from the browser's IndexedDB at /saves
// (the engine stores each save back there before reporting it done), and the program's path,
// /game/<script name>, beside which the packaged data lies in /game/data.
//
// ?replay=FILE (a URL beside the page) replays a recorded session in the canvas, as
// kastrel-replay --window does; &verify=1 checks every stored frame hash and goes on to the end,
// as --verify does; &whole=1 fails a recording cut short, as --whole does. The game's exit
// status (0 passed, 6 an unusable session, 7 diverged, 8 cut short where a whole one was asked
// for) goes to Module.kastrelExit and Module.kastrelEnded(status), which the page shows, and the
// replay's summary line, as kastrel-replay --verify prints it, to Module.kastrelSummary.
(function() {
  var script = typeof document !== 'undefined' && document.currentScript;
  var name = script && script.src ? script.src.replace(/^.*\//, '').replace(/\.js(\?.*)?$/, '') : 'game';
  Module['thisProgram'] = Module['thisProgram'] || '/game/' + name;
  var query = typeof location !== 'undefined' ? new URLSearchParams(location.search) : null;
  var replay = query && query.get('replay');
  var summaryFile = '/replay/summary.txt';
  Module['kastrelReplaying'] = !!replay;
  Module['preRun'] = [].concat(Module['preRun'] || [], [function() {
    // The engine yields to the page itself, once a frame: SDL's own yields (a sleep in every
    // window update and delay) would only add waits, and keep SDL in Asyncify's rewrite.
    ENV['SDL_EMSCRIPTEN_ASYNCIFY'] = '0';
  }, function() {
    if (typeof indexedDB === 'undefined') return;  // no storage: saves last until the page closes
    FS.mkdir('/saves');
    FS.mount(IDBFS, {}, '/saves');
    Module['kastrelSaves'] = true;
    addRunDependency('kastrel-saves');
    FS.syncfs(true, function(err) {
      if (err) console.warn('kastrel: the saved games could not be read: ' + err);
      removeRunDependency('kastrel-saves');
    });
  }, function() {
    if (!replay) return;
    // A session that cannot be fetched is left missing: the engine then fails it as on Linux.
    var file = '/replay/session.kst';
    FS.mkdir('/replay');
    ENV['KASTREL_REPLAY'] = file;
    ENV['KASTREL_REPLAY_WINDOW'] = '1';
    ENV['KASTREL_REPLAY_SUMMARY'] = summaryFile;
    if (query.get('verify') === '1') ENV['KASTREL_REPLAY_VERIFY'] = '1';
    if (query.get('whole') === '1') ENV['KASTREL_REPLAY_WHOLE'] = '1';
    addRunDependency('kastrel-replay');
    fetch(replay).then(function(response) {
      if (!response.ok) throw new Error('HTTP ' + response.status);
      return response.arrayBuffer();
    }).then(function(data) {
      FS.writeFile(file, new Uint8Array(data));
    }).catch(function(err) {
      console.warn('kastrel: the session ' + replay + ' could not be fetched: ' + err);
    }).finally(function() {
      removeRunDependency('kastrel-replay');
    });
  }]);
  // Every exit comes through here: exit() and _Exit() from the game, and main()'s first yield
  // to the page, when it has not returned yet (its real return value comes when it does).
  var ended = false;
  Module['quit'] = function(status, toThrow) {
    if (typeof Asyncify === 'object' && Asyncify.currData) {
      Asyncify.whenDone().then(function(value) { end(value | 0); }, function() {});
    } else {
      end(status);
    }
    throw toThrow;
  };
  // The line the engine's replay wrote at its end, or what became of it.
  function summary(status) {
    var text = '';
    try {
      text = FS.readFile(summaryFile, {encoding: 'utf8'}).replace(/\n$/, '');
    } catch (err) {
      return 'kastrel-replay: no summary: the game ended with status ' + status +
             ' before its replay wrote one';
    }
    return 'kastrel-replay: ' + text;
  }
  function end(status) {
    if (ended) return;
    ended = true;
    if (replay) Module['kastrelSummary'] = summary(status);
    Module['kastrelExit'] = status;
    if (Module['kastrelEnded']) Module['kastrelEnded'](status);
  }
})();
