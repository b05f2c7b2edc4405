#include "kastrel/base/detail/player_files.h"

#include <atomic>

namespace KASTREL {

namespace {
std::atomic<const PLAYERFILEHOOKS*> g_hooks{nullptr};
}  // namespace

void SETPLAYERFILEHOOKS(const PLAYERFILEHOOKS* HOOKS) { g_hooks.store(HOOKS); }
const PLAYERFILEHOOKS* PLAYERFILEHOOKSSET() { return g_hooks.load(); }

}  // namespace KASTREL
