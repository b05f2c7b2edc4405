#pragma once
#include <cstddef>

// Copies bytes between buffers that do not overlap, as memcpy does. A load whose address matches,
// modulo 4 KiB, that of an earlier store still on its way waits for that store as if the two were
// one; a forward copy onto a target a few bytes past its source modulo 4 KiB (as two blocks
// taken from the heap one after the other lie) meets that on nearly every load, and memcpy then
// takes twice its time or more. Such copies load each block before storing the one before it,
// so that no load follows a store it could match.
void vox_hCopyBytes(void* target, const void* source, size_t bytes);
