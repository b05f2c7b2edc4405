#include "kastrel/audio/detail/audio_header.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace KASTREL::AUDIO {

namespace {

constexpr double kLowestRate = 1000, kHighestRate = 768000;
constexpr uint32_t kMostChannels = 8;

uint32_t le16(const uint8_t* p) { return uint32_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint32_t be16(const uint8_t* p) { return uint32_t(p[0] << 8 | p[1]); }
uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
uint64_t le64(const uint8_t* p) { return le32(p) | uint64_t(le32(p + 4)) << 32; }

bool bad_rate(double rate) { return !(rate >= kLowestRate && rate <= kHighestRate); }

// AIFF keeps its rate as an 80-bit extended float: sign and exponent, then a 64-bit mantissa.
double extended(const uint8_t* p) {
  const int exponent = int((p[0] & 0x7F) << 8 | p[1]);
  const uint64_t mantissa = uint64_t(be32(p + 2)) << 32 | be32(p + 6);
  if (p[0] & 0x80) return -1;
  return std::ldexp(double(mantissa), exponent - 16383 - 63);
}

// Sample formats the decoders play: PCM at 8 to 32 bits, 32-bit float, A-law and mu-law, and
// the two 4-bit ADPCM kinds. Anything else (64-bit float among it) would play as silence.
bool playable_wave(uint32_t tag, uint32_t bits) {
  switch (tag) {
    case 1:
      return bits == 8 || bits == 16 || bits == 24 || bits == 32;
    case 3:
      return bits == 32;
    case 6:
    case 7:
      return bits == 8;
    case 2:
    case 0x11:
      return bits == 4;
    default:
      return false;
  }
}

// The chunks of a WAV or AIFF file: a plausible format (absurd values make the mixer ask for
// negative sizes), no chunk but the samples running past the end of the file (it allocates what
// a chunk claims before reading it), and the frames the samples hold. A cut sample chunk is
// left to the decoders, but an AIFF may not claim more frames than it holds.
SOUNDHEADER pcm_header(SDL_RWops* rw) {
  SOUNDHEADER h;
  uint8_t header[12], chunk[8], fmt[26] = {};
  const Sint64 total = SDL_RWsize(rw);
  if (SDL_RWread(rw, header, 1, 12) != 12) return h;
  const bool wave = std::memcmp(header, "RIFF", 4) == 0;
  const bool compressed_aiff = std::memcmp(header + 8, "AIFC", 4) == 0;
  bool have_format = false;
  uint32_t channels = 0, block = 0, tag = 0, frame_bytes = 0;
  int64_t claimed = -1, sample_bytes = -1;
  Sint64 at = 12;
  int chunks = 0;
  for (; chunks < 1024 && SDL_RWseek(rw, at, RW_SEEK_SET) == at && SDL_RWread(rw, chunk, 1, 8) == 8;
       ++chunks) {
    const uint32_t size = wave ? le32(chunk + 4) : be32(chunk + 4);
    const Sint64 body = at + 8;
    at = body + Sint64(size) + (size & 1);
    for (const char* name : {"id3 ", "ID3 ", "LIST"})
      if (std::memcmp(chunk, name, 4) == 0) h.HIDE.emplace_back(body, body + Sint64(size));
    if (std::memcmp(chunk, wave ? "data" : "SSND", 4) == 0) {
      const int64_t present = total >= 0 ? std::min<int64_t>(size, total - body) : size;
      sample_bytes = std::max<int64_t>(0, present - (wave ? 0 : 8));
      continue;
    }
    if (total >= 0 && at - (size & 1) > total) return h.WRONG = "has a chunk longer than the file", h;
    if (std::memcmp(chunk, wave ? "fmt " : "COMM", 4) != 0) continue;
    const size_t want = std::min<size_t>(size, sizeof fmt);
    if (size < (wave ? 16u : 18u) || SDL_RWread(rw, fmt, 1, want) != want)
      return h.WRONG = "has a cut format chunk", h;
    have_format = true;
    channels = wave ? le16(fmt + 2) : be16(fmt);
    if (channels < 1 || channels > kMostChannels)
      return h.WRONG = "has an unsupported number of channels", h;
    h.RATE = wave ? double(le32(fmt + 4)) : extended(fmt + 8);
    if (bad_rate(h.RATE)) return h.WRONG = "has an unsupported sample rate", h;
    const uint32_t bits = wave ? le16(fmt + 14) : be16(fmt + 6);
    if (wave) {
      tag = le16(fmt);
      if (tag == 0xFFFE) tag = size >= 40 ? le16(fmt + 24) : 0;
      block = le16(fmt + 12);
      if (!playable_wave(tag, bits)) return h.WRONG = "holds samples of a format that cannot be played", h;
      if (block == 0) return h.WRONG = "has a damaged format chunk", h;
    } else {
      claimed = be32(fmt + 2);
      const bool plain = !compressed_aiff || (size >= 22 && (std::memcmp(fmt + 18, "NONE", 4) == 0 ||
                                                             std::memcmp(fmt + 18, "twos", 4) == 0 ||
                                                             std::memcmp(fmt + 18, "sowt", 4) == 0));
      if (plain && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return h.WRONG = "holds samples of a format that cannot be played", h;
      frame_bytes = plain ? channels * bits / 8 : 0;
    }
  }
  // The mixer reads on: a tag it would meet past the last chunk looked at must not be missed.
  if (chunks == 1024) return h.WRONG = "has too many chunks", h;
  if (!have_format) return h;  // the decoder reports what is missing
  if (wave) {
    // ADPCM packs two samples in a byte; the count is an upper bound then.
    if (sample_bytes >= 0)
      h.FRAMES = tag == 2 || tag == 0x11 ? sample_bytes * 2 / channels : sample_bytes / block;
  } else {
    if (frame_bytes != 0 && claimed * frame_bytes > std::max<int64_t>(sample_bytes, 0))
      return h.WRONG = "claims more sample frames than it holds", h;
    h.FRAMES = claimed;
  }
  return h;
}

// A FLAC file's metadata: its one stream header first, plausible, and every block whole. The
// mixer's FLAC reader leaks a converter when the metadata it has begun to read turns out damaged.
// The channels of the FLAC frame whose header (its CRC-8 right) starts at P, 0 where none does.
int frame_channels(const uint8_t* p, size_t n) {
  if (n < 16 || p[0] != 0xFF || (p[1] & 0xFE) != 0xF8) return 0;
  const int size_code = p[2] >> 4, rate_code = p[2] & 15, assignment = p[3] >> 4;
  size_t at = 5;  // past the coded frame number, then the optional size and rate
  for (uint8_t lead = p[4]; (lead & 0xC0) == 0xC0 && at < 11; lead = uint8_t(lead << 1)) ++at;
  at += size_code == 6 ? 1 : size_code == 7 ? 2 : 0;
  at += rate_code == 12 ? 1 : rate_code == 13 || rate_code == 14 ? 2 : 0;
  uint8_t crc = 0;
  for (size_t i = 0; i < at; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = uint8_t(crc & 0x80 ? crc << 1 ^ 7 : crc << 1);
  }
  return crc != p[at] ? 0 : assignment < 8 ? assignment + 1 : assignment <= 10 ? 2 : -1;
}

SOUNDHEADER flac_header(SDL_RWops* rw) {
  SOUNDHEADER h;
  const Sint64 total = SDL_RWsize(rw);
  Sint64 at = 4;
  uint8_t header[4], info[34];
  int channels = 0;
  for (int block = 0; block < 4096; ++block) {
    if (SDL_RWseek(rw, at, RW_SEEK_SET) != at || SDL_RWread(rw, header, 1, 4) != 4)
      return h.WRONG = "is cut short in its metadata", h;
    const int type = header[0] & 0x7F;
    const uint32_t length = uint32_t(header[1] << 16 | header[2] << 8 | header[3]);
    at += 4 + length;
    if ((block == 0) != (type == 0) || type == 127) return h.WRONG = "has damaged metadata", h;
    if (total >= 0 && at > total) return h.WRONG = "is cut short in its metadata", h;
    if (block == 0) {
      if (length != 34 || SDL_RWread(rw, info, 1, 34) != 34)
        return h.WRONG = "has a damaged stream header", h;
      const uint32_t least = be16(info), most = be16(info + 2);
      const uint64_t packed = uint64_t(be32(info + 10)) << 32 | be32(info + 14);
      h.RATE = double(packed >> 44);
      const uint32_t bits = uint32_t(packed >> 36 & 31) + 1;
      channels = int(packed >> 41 & 7) + 1;
      if (least < 16 || most < least || bits < 4) return h.WRONG = "has a damaged stream header", h;
      if (bad_rate(h.RATE)) return h.WRONG = "has an unsupported sample rate", h;
      const int64_t frames = int64_t(packed & 0xFFFFFFFFFull);
      h.FRAMES = frames == 0 ? -1 : frames;  // 0: the encoder did not know
    }
    if (header[0] & 0x80) break;  // the last metadata block
    if (block == 4095) return h.WRONG = "has damaged metadata", h;
  }
  // The mixer takes every frame to hold the stream header's channels, and reads those a frame
  // lacks through null pointers.
  std::vector<uint8_t> buffer(65536 + 16);
  for (Sint64 from = at; SDL_RWseek(rw, from, RW_SEEK_SET) == from; from += 65536) {
    const size_t got = SDL_RWread(rw, buffer.data(), 1, buffer.size());
    for (size_t i = 0; i < std::min<size_t>(got, 65536); ++i) {
      const int frame = frame_channels(&buffer[i], got - i);
      if (frame != 0 && frame != channels) return h.WRONG = "has a frame of other channels", h;
    }
    if (got < buffer.size()) break;
  }
  return h;
}

// An Ogg stream's first packet says how it sounds; its last page's position how long it is.
SOUNDHEADER ogg_header(SDL_RWops* rw) {
  SOUNDHEADER h;
  uint8_t page[27 + 255 + 19] = {};
  const size_t got = SDL_RWread(rw, page, 1, sizeof page);
  if (got < 28 || got < size_t(27 + page[26])) return h.WRONG = "is cut short in its header", h;
  const uint8_t* packet = page + 27 + page[26];
  const size_t room = got - size_t(packet - page);
  const bool opus = room >= 19 && std::memcmp(packet, "OpusHead", 8) == 0;
  const bool vorbis = room >= 16 && std::memcmp(packet, "\x01vorbis", 7) == 0;
  if (!opus && !vorbis) return h.WRONG = "has a damaged stream header", h;
  const uint32_t channels = opus ? packet[9] : packet[11];
  if (channels < 1 || channels > kMostChannels)
    return h.WRONG = "has an unsupported number of channels", h;
  h.RATE = opus ? 48000 : double(le32(packet + 12));
  if (bad_rate(h.RATE)) return h.WRONG = "has an unsupported sample rate", h;
  const uint32_t serial = le32(page + 14);
  const int64_t skip = opus ? le16(packet + 10) : 0;
  // The granule position of the stream's last page: its length in frames.
  const Sint64 total = SDL_RWsize(rw);
  const Sint64 from = std::max<Sint64>(0, total - 65536);
  if (total <= 0 || SDL_RWseek(rw, from, RW_SEEK_SET) != from) return h;
  std::vector<uint8_t> tail(size_t(total - from));
  const size_t n = SDL_RWread(rw, tail.data(), 1, tail.size());
  for (size_t i = n >= 27 ? n - 27 + 1 : 0; i-- > 0;) {
    if (std::memcmp(&tail[i], "OggS", 4) != 0 || le32(&tail[i + 14]) != serial) continue;
    const uint64_t granule = le64(&tail[i + 6]);
    if (granule == ~uint64_t{0}) continue;  // a page where no packet ends
    h.FRAMES = granule > uint64_t(INT64_MAX) ? INT64_MAX : std::max<int64_t>(0, int64_t(granule) - skip);
    break;
  }
  return h;
}

}  // namespace

Mix_MusicType SOUNDFORMAT(const uint8_t* head, size_t size) {
  auto is = [&](size_t at, const char* text) {
    const size_t n = std::strlen(text);
    return size >= at + n && std::memcmp(head + at, text, n) == 0;
  };
  if (is(0, "RIFF") && is(8, "WAVE")) return MUS_WAV;
  if (is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC"))) return MUS_WAV;
  if (is(0, "OggS")) return is(28, "OpusHead") ? MUS_OPUS : MUS_OGG;
  if (is(0, "fLaC")) return MUS_FLAC;
  if (is(0, "ID3")) return MUS_MP3;
  if (size >= 2 && head[0] == 0xFF && (head[1] & 0xFE) == 0xFA) return MUS_MP3;
  return MUS_NONE;
}

SOUNDHEADER READSOUNDHEADER(SDL_RWops* rw, Mix_MusicType type) {
  SOUNDHEADER h;
  SDL_RWseek(rw, 0, RW_SEEK_SET);
  switch (type) {
    case MUS_WAV:
      h = pcm_header(rw);
      break;
    case MUS_FLAC:
      h = flac_header(rw);
      break;
    case MUS_OGG:
    case MUS_OPUS:
      h = ogg_header(rw);
      break;
    case MUS_MP3: {
      // The size leaves out the header and the footer (flag 0x10); the mixer reads that far.
      uint8_t id3[10];
      if (SDL_RWread(rw, id3, 1, 10) != 10 || std::memcmp(id3, "ID3", 3) != 0) break;
      const int64_t size = (id3[6] & 0x7F) << 21 | (id3[7] & 0x7F) << 14 | (id3[8] & 0x7F) << 7 |
                           (id3[9] & 0x7F);
      h.HIDE.emplace_back(10, 10 + size + (id3[5] & 0x10 ? 10 : 0));
      break;
    }
    default:
      break;
  }
  SDL_RWseek(rw, 0, RW_SEEK_SET);
  return h;
}

}  // namespace KASTREL::AUDIO
