#include "kastrel/device/sdl/file_stream.h"

#include <new>

#include "kastrel/base/detail/platform.h"

namespace {

struct Stream {
  KASTREL::PLATFORM::READFILE file;
  uint64_t at = 0;
};

Stream* stream_of(SDL_RWops* rw) { return static_cast<Stream*>(rw->hidden.unknown.data1); }

Sint64 size(SDL_RWops* rw) { return Sint64(stream_of(rw)->file.SIZE()); }

Sint64 seek(SDL_RWops* rw, Sint64 offset, int whence) {
  Stream* s = stream_of(rw);
  const Sint64 base = whence == RW_SEEK_SET ? 0
                      : whence == RW_SEEK_CUR ? Sint64(s->at)
                                              : Sint64(s->file.SIZE());
  const Sint64 to = base + offset;
  if (to < 0 || !s->file.SEEK(uint64_t(to))) return SDL_SetError("cannot seek in the file");
  s->at = uint64_t(to);
  return to;
}

size_t read(SDL_RWops* rw, void* to, size_t size, size_t count) {
  Stream* s = stream_of(rw);
  if (size == 0 || count == 0) return 0;
  if (count > SIZE_MAX / size) count = SIZE_MAX / size;
  const int64_t got = s->file.READ(to, size * count);
  if (got < 0) {
    SDL_SetError("%s", s->file.REASON().c_str());
    return 0;
  }
  s->at += uint64_t(got);
  // A part of an object read is left read, as stdio does.
  return size_t(got) / size;
}

size_t write(SDL_RWops*, const void*, size_t, size_t) {
  SDL_SetError("the file is open for reading only");
  return 0;
}

int close(SDL_RWops* rw) {
  delete stream_of(rw);
  SDL_FreeRW(rw);
  return 0;
}

}  // namespace

SDL_RWops* vox_sdl_open_file(const std::string& path, std::string* reason) {
  auto* s = new (std::nothrow) Stream;
  SDL_RWops* rw = s != nullptr ? SDL_AllocRW() : nullptr;
  if (rw == nullptr) {
    delete s;
    *reason = "out of memory";
    return nullptr;
  }
  if (!s->file.OPEN(path)) {
    *reason = s->file.REASON();
    delete s;
    SDL_FreeRW(rw);
    return nullptr;
  }
  rw->size = size;
  rw->seek = seek;
  rw->read = read;
  rw->write = write;
  rw->close = close;
  rw->type = SDL_RWOPS_UNKNOWN;
  rw->hidden.unknown.data1 = s;
  return rw;
}
