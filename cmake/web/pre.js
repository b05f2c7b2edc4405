// Runs before the game's main(): the player's folder from the browser's IndexedDB at /saves
// (the engine stores each save back there before reporting it done), and the program's path,
// /game/<script name>, beside which the packaged data lies in /game/data.
(function() {
  var script = typeof document !== 'undefined' && document.currentScript;
  var name = script && script.src ? script.src.replace(/^.*\//, '').replace(/\.js(\?.*)?$/, '') : 'game';
  Module['thisProgram'] = Module['thisProgram'] || '/game/' + name;
  Module['preRun'] = [].concat(Module['preRun'] || [], [function() {
    if (typeof indexedDB === 'undefined') return;  // no storage: saves last until the page closes
    FS.mkdir('/saves');
    FS.mount(IDBFS, {}, '/saves');
    Module['kastrelSaves'] = true;
    addRunDependency('kastrel-saves');
    FS.syncfs(true, function(err) {
      if (err) console.warn('kastrel: the saved games could not be read: ' + err);
      removeRunDependency('kastrel-saves');
    });
  }]);
})();
