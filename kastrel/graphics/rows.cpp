#include "kastrel/graphics/detail/rows.h"

#include <cstring>

// Pixels are read and written through memcpy: compact-header sources need not be aligned.

namespace {

template <int BPP>
struct Pixel;
template <>
struct Pixel<1> {
  using type = uint8_t;
};
template <>
struct Pixel<2> {
  using type = uint16_t;
};
template <>
struct Pixel<4> {
  using type = uint32_t;
};

template <int BPP>
inline uint32_t load(const uint8_t* p) {
  typename Pixel<BPP>::type v;
  std::memcpy(&v, p, BPP);
  return v;
}

template <int BPP>
inline void store(uint8_t* p, uint32_t v) {
  const auto narrow = static_cast<typename Pixel<BPP>::type>(v);
  std::memcpy(p, &narrow, BPP);
}

// Runs op(source pixel address, target pixel address) over every pixel, rows top to bottom.
template <int SBPP, int TBPP, typename Op>
inline void each_pixel(const uint8_t* s, uint8_t* t, int32_t w, int32_t h, int32_t sp, int32_t tp,
                       Op op) {
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    const uint8_t* sr = s;
    uint8_t* tr = t;
    for (int32_t x = 0; x < w; ++x, sr += SBPP, tr += TBPP) op(sr, tr);
  }
}

#define ROW_ARGS                                                                             \
  const uint8_t *s, uint8_t *t, int32_t w, int32_t h, int32_t sp, int32_t tp, int32_t alpha, \
      VOX_BLENDER blender, void *param

// Rows are byte strings; memmove keeps a blit of an image onto itself defined. Short rows that
// do not overlap are copied here, a cache line a step: where the C library's memmove is a call
// that is slow to start (MinGW's), a small sprite's rows would cost a call each.
template <int BPP>
void pset(ROW_ARGS) {
  (void)alpha, (void)blender, (void)param;
  const size_t bytes = static_cast<size_t>(w) * BPP;
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    const auto from = reinterpret_cast<uintptr_t>(s), to = reinterpret_cast<uintptr_t>(t);
    if (bytes > 512 || (to < from + bytes && from < to + bytes)) {
      std::memmove(t, s, bytes);
      continue;
    }
    size_t i = 0;
    for (; i + 64 <= bytes; i += 64) std::memcpy(t + i, s + i, 64);
    for (; i + 16 <= bytes; i += 16) std::memcpy(t + i, s + i, 16);
    for (; i < bytes; ++i) t[i] = s[i];
  }
}

// PRESET, AND, OR and XOR work on the row's bytes the same way at every depth.
template <int BPP, typename Op>
inline void bytewise(const uint8_t* s, uint8_t* t, int32_t w, int32_t h, int32_t sp, int32_t tp,
                     Op op) {
  const int32_t bytes = w * BPP;
  for (int32_t y = 0; y < h; ++y, s += sp, t += tp) {
    for (int32_t i = 0; i < bytes; ++i) t[i] = op(s[i], t[i]);
  }
}

template <int BPP>
void preset(ROW_ARGS) {
  (void)alpha, (void)blender, (void)param;
  bytewise<BPP>(s, t, w, h, sp, tp, [](uint8_t a, uint8_t) { return uint8_t(~a); });
}
template <int BPP>
void op_and(ROW_ARGS) {
  (void)alpha, (void)blender, (void)param;
  bytewise<BPP>(s, t, w, h, sp, tp, [](uint8_t a, uint8_t b) { return uint8_t(a & b); });
}
template <int BPP>
void op_or(ROW_ARGS) {
  (void)alpha, (void)blender, (void)param;
  bytewise<BPP>(s, t, w, h, sp, tp, [](uint8_t a, uint8_t b) { return uint8_t(a | b); });
}
template <int BPP>
void op_xor(ROW_ARGS) {
  (void)alpha, (void)blender, (void)param;
  bytewise<BPP>(s, t, w, h, sp, tp, [](uint8_t a, uint8_t b) { return uint8_t(a ^ b); });
}

// 8 and 16 bits copy what is not the mask colour; 32 bits also clear the alpha byte.
template <int BPP, uint32_t MASK>
void trans(ROW_ARGS) {
  (void)alpha, (void)blender, (void)param;
  // The target is rewritten where the mask colour keeps it, so the compiler can vectorise.
  each_pixel<BPP, BPP>(s, t, w, h, sp, tp, [](const uint8_t* sr, uint8_t* tr) {
    const uint32_t v = load<BPP>(sr);
    store<BPP>(tr, v != MASK ? v : load<BPP>(tr));
  });
}

void trans32(ROW_ARGS) {
  (void)alpha, (void)blender, (void)param;
  each_pixel<4, 4>(s, t, w, h, sp, tp, [](const uint8_t* sr, uint8_t* tr) {
    const uint32_t v = load<4>(sr) & 0x00FFFFFFu;
    store<4>(tr, v != 0xFF00FFu ? v : load<4>(tr));
  });
}

// Two channels per 32-bit word. The alpha byte has no sign extension in the second formula:
// stored pictures depend on exactly this result.
void alpha32(ROW_ARGS) {
  (void)alpha, (void)blender, (void)param;
  each_pixel<4, 4>(s, t, w, h, sp, tp, [](const uint8_t* sr, uint8_t* tr) {
    const uint32_t sv = load<4>(sr), d = load<4>(tr);
    const uint32_t a = sv >> 24;
    const uint32_t rb =
        ((d & 0x00FF00FFu) + ((((sv & 0x00FF00FFu) - (d & 0x00FF00FFu)) * a) >> 8)) & 0x00FF00FFu;
    const uint32_t ag =
        ((d & 0xFF00FF00u) + ((((sv & 0xFF00FF00u) - (d & 0xFF00FF00u)) >> 8) * a)) & 0xFF00FF00u;
    store<4>(tr, rb | ag);
  });
}

// Saturating add of two 8-bit lanes (bits 0-7 and 16-23) of sums up to 0x1FE.
inline uint32_t saturate_lanes(uint32_t sum) {
  const uint32_t carry = sum & 0x01000100u;
  return (sum | (carry - (carry >> 8))) & 0x00FF00FFu;
}

void add32(ROW_ARGS) {
  (void)blender, (void)param;
  const uint32_t a = static_cast<uint32_t>(alpha) & 0xFFu;
  // Written without a branch (the mask colour adds nothing) so the compiler can vectorise it.
  each_pixel<4, 4>(s, t, w, h, sp, tp, [a](const uint8_t* sr, uint8_t* tr) {
    const uint32_t sv = load<4>(sr);
    const uint32_t keep = (sv & 0x00FFFFFFu) == 0xFF00FFu ? 0u : 0x00FF00FFu;
    const uint32_t d = load<4>(tr);
    const uint32_t rb = saturate_lanes((d & 0x00FF00FFu) + (((sv & 0x00FF00FFu) * a >> 8) & keep));
    const uint32_t ag =
        saturate_lanes(((d >> 8) & 0x00FF00FFu) + ((((sv >> 8) & 0x00FF00FFu) * a >> 8) & keep));
    store<4>(tr, rb | (ag << 8));
  });
}

// 5-6-5: red, blue and the top five green bits saturate at 31; the lowest green bit ends 0.
void add16(ROW_ARGS) {
  (void)blender, (void)param;
  const uint32_t f = ((static_cast<uint32_t>(alpha) & 0xFFu) + 7) >> 3;
  each_pixel<2, 2>(s, t, w, h, sp, tp, [f](const uint8_t* sr, uint8_t* tr) {
    const uint32_t sv = load<2>(sr);
    if (sv == 0xF81Fu) return;
    const uint32_t d = load<2>(tr);
    auto field = [f, sv, d](int shift) {
      const uint32_t sum = ((d >> shift) & 0x1Fu) + ((((sv >> shift) & 0x1Fu) * f) >> 5);
      return (sum > 31 ? 31u : sum) << shift;
    };
    store<2>(tr, field(11) | field(6) | field(0));
  });
}

inline uint32_t widen565(uint32_t v) {
  const uint32_t r = v >> 11, g = (v >> 5) & 0x3Fu, b = v & 0x1Fu;
  return ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
}

inline uint32_t narrow565(uint32_t c) {
  return ((c >> 3) & 0x1Fu) | ((c >> 5) & 0x7E0u) | ((c >> 8) & 0xF800u);
}

template <int BPP>
void custom(ROW_ARGS) {
  (void)alpha;
  each_pixel<BPP, BPP>(s, t, w, h, sp, tp, [blender, param](const uint8_t* sr, uint8_t* tr) {
    if constexpr (BPP == 2) {
      store<2>(tr, narrow565(blender(widen565(load<2>(sr)), widen565(load<2>(tr)), param)));
    } else {
      store<BPP>(tr, blender(load<BPP>(sr), load<BPP>(tr), param));
    }
  });
}

void alpha_mask(ROW_ARGS) {
  (void)alpha, (void)blender, (void)param;
  each_pixel<1, 4>(s, t, w, h, sp, tp, [](const uint8_t* sr, uint8_t* tr) {
    store<4>(tr, (load<4>(tr) & 0x00FFFFFFu) | (uint32_t{*sr} << 24));
  });
}

#undef ROW_ARGS

}  // namespace

const VOX_PUT_ROUTINE vox_gfxRowsScalar[PUT_MODES][3] = {
    /* TRANS  */ {trans<1, 0u>, trans<2, 0xF81Fu>, trans32},
    /* PSET   */ {pset<1>, pset<2>, pset<4>},
    /* PRESET */ {preset<1>, preset<2>, preset<4>},
    /* AND    */ {op_and<1>, op_and<2>, op_and<4>},
    /* OR     */ {op_or<1>, op_or<2>, op_or<4>},
    /* XOR    */ {op_xor<1>, op_xor<2>, op_xor<4>},
    /* ALPHA  */ {pset<1>, pset<2>, alpha32},  // no alpha below 32 bits: a copy
    /* ADD    */ {op_or<1>, add16, add32},
    /* CUSTOM */ {custom<1>, custom<2>, custom<4>},
};

const VOX_PUT_ROUTINE vox_gfxRowAlphaMask = alpha_mask;
