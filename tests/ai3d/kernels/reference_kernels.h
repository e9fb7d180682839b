// Straightforward per-pixel versions of the AI-3D kernels, written from the
// formulas with no tables, padding or threads. Both back-ends are held to
// these. Maps are row-major vectors of floats that hold half values.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "ai3d/kernels/bgra_image.h"
#include "ai3d/kernels/dynamic_filter_params.h"
#include "ai3d/kernels/eye_viewport.h"
#include "ai3d/kernels/half_float.h"
#include "ai3d/kernels/stereo_params.h"

namespace vistrelle::ai3d::reference {

struct Plane {
  int width = 0;
  int height = 0;
  std::vector<float> values;

  Plane() = default;
  Plane(int w, int h, float fill = 0) : width(w), height(h), values(size_t(w) * size_t(h), fill) {}
  float at(int x, int y) const {  // clamped coordinates
    x = std::clamp(x, 0, width - 1);
    y = std::clamp(y, 0, height - 1);
    return values[size_t(y) * size_t(width) + size_t(x)];
  }
  float& ref(int x, int y) { return values[size_t(y) * size_t(width) + size_t(x)]; }
};

inline Plane roundedToHalf(Plane p) {
  for (float& v : p.values) v = roundToHalf(v);
  return p;
}

inline Plane dynamicDepthFilter(const Plane& c, const Plane& p, const DynamicFilterParams& k) {
  Plane out(c.width, c.height);
  const double keep = 1.0 - std::clamp<double>(k.alpha, 0.0, 1.0);
  const double a = 1.0 - std::pow(keep, std::clamp<double>(k.dt, 1.0, 250.0) / 16.0);
  for (int y = 0; y < c.height; ++y) {
    for (int x = 0; x < c.width; ++x) {
      const double cv = c.at(x, y);
      const double pv = p.at(x, y);
      double o;
      if (!std::isfinite(cv)) {
        o = pv;
      } else if (!std::isfinite(pv)) {
        o = cv;
      } else {
        double sum = 0;
        int n = 0;
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) {
            const double d = std::fabs(double(c.at(x + dx, y + dy)) - p.at(x + dx, y + dy));
            if (std::isfinite(d)) {
              sum += d;
              ++n;
            }
          }
        }
        const double m = n > 0 ? sum / n : 0.0;
        const double w =
            m > k.sceneChangeThresh ? 1.0 : a + (1.0 - a) * m / (m + std::max<double>(k.eta, 1e-6));
        o = pv + w * (cv - pv);
      }
      out.ref(x, y) = float(o);
    }
  }
  return roundedToHalf(out);
}

inline Plane depthSmoothing(const Plane& d, const StereoParams& k) {
  Plane out(d.width, d.height);
  const int r = std::clamp(k.radius, 0, 8);
  const double ss = k.sigmaSpatial, sr = k.sigmaRange;
  for (int y = 0; y < d.height; ++y) {
    for (int x = 0; x < d.width; ++x) {
      const double centre = d.at(x, y);
      if (!std::isfinite(centre)) {
        out.ref(x, y) = float(centre);
        continue;
      }
      double sum = 0, weights = 0;
      for (int j = -r; j <= r; ++j) {
        for (int i = -r; i <= r; ++i) {
          const double q = d.at(x + i, y + j);
          if (!std::isfinite(q)) continue;  // a non-finite depth weighs nothing
          const double w = std::exp(-(i * i + j * j) / (2 * ss * ss) -
                                    (q - centre) * (q - centre) / (2 * sr * sr));
          sum += w * q;
          weights += w;
        }
      }
      out.ref(x, y) = float(sum / weights);
    }
  }
  return roundedToHalf(out);
}

struct EyeMaps {
  Plane left, right;
};

// Exact by construction: the comparisons use the same single-precision
// products as the kernels.
inline EyeMaps stereoGeneration(const Plane& s, const StereoParams& k) {
  EyeMaps out{Plane(s.width, s.height), Plane(s.width, s.height)};
  const float kk = std::clamp(k.depthValue, 0.0f, 0.05f);
  const float kw = kk * k.width;
  const float minimumReach = kw + 0.5f;
  const int n = std::max(std::clamp(k.depthSteps, 0, 64), int(std::ceil(minimumReach)));
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      float l = s.at(x, y), r = s.at(x, y);
      for (int j = 1; j <= n; ++j) {
        if (x - j >= 0) {
          const float v = s.at(x - j, y);
          const float shift = kw * v;
          if (float(j) <= shift + 0.5f) l = std::max(l, v);
        }
        if (x + j <= s.width - 1) {
          const float v = s.at(x + j, y);
          const float shift = kw * v;
          if (float(j) <= shift + 0.5f) r = std::max(r, v);
        }
      }
      out.left.ref(x, y) = l;
      out.right.ref(x, y) = r;
    }
  }
  return out;
}

// Flat max over the members of a (2r+1)^2 mask (1 = member).
inline Plane dilate(const Plane& m, const std::vector<float>& mask, int radius) {
  Plane out(m.width, m.height);
  const int side = 2 * radius + 1;
  for (int y = 0; y < m.height; ++y) {
    for (int x = 0; x < m.width; ++x) {
      float best = -INFINITY;
      for (int row = 0; row < side; ++row) {
        for (int col = 0; col < side; ++col) {
          if (mask[size_t(row * side + col)] == 1.0f) {
            best = std::max(best, m.at(x + col - radius, y + row - radius));
          }
        }
      }
      out.ref(x, y) = best;
    }
  }
  return out;
}

inline Plane gaussianBlur(const Plane& m) {
  std::array<double, 25> g{};
  double total = 0;
  for (int i = -12; i <= 12; ++i) total += (g[size_t(i + 12)] = std::exp(-i * i / 32.0));
  Plane rows(m.width, m.height), out(m.width, m.height);
  for (int y = 0; y < m.height; ++y) {
    for (int x = 0; x < m.width; ++x) {
      double sum = 0;
      for (int i = -12; i <= 12; ++i) sum += g[size_t(i + 12)] / total * m.at(x + i, y);
      rows.ref(x, y) = float(sum);
    }
  }
  for (int y = 0; y < m.height; ++y) {
    for (int x = 0; x < m.width; ++x) {
      double sum = 0;
      for (int i = -12; i <= 12; ++i) sum += g[size_t(i + 12)] / total * rows.at(x, y + i);
      out.ref(x, y) = float(sum);
    }
  }
  return roundedToHalf(out);
}

// GL_LINEAR with CLAMP_TO_EDGE at normalised (u, v) of a one-channel plane.
inline double bilinear(const Plane& p, double u, double v) {
  const double x = u * p.width - 0.5, y = v * p.height - 0.5;
  const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
  const double fx = x - x0, fy = y - y0;
  return (1 - fx) * (1 - fy) * p.at(x0, y0) + fx * (1 - fy) * p.at(x0 + 1, y0) +
         (1 - fx) * fy * p.at(x0, y0 + 1) + fx * fy * p.at(x0 + 1, y0 + 1);
}

inline double bilinearChannel(const BgraImageView& f, int c, double u, double v) {
  auto px = [&](int x, int y) {
    x = std::clamp(x, 0, f.width - 1);
    y = std::clamp(y, 0, f.height - 1);
    return double(f.row(y)[size_t(x) * 4 + size_t(c)]);
  };
  const double x = u * f.width - 0.5, y = v * f.height - 0.5;
  const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
  const double fx = x - x0, fy = y - y0;
  return (1 - fx) * (1 - fy) * px(x0, y0) + fx * (1 - fy) * px(x0 + 1, y0) +
         (1 - fx) * fy * px(x0, y0 + 1) + fx * fy * px(x0 + 1, y0 + 1);
}

// One eye drawn into the rectangle of target (top-left origin).
inline void drawEye(const BgraImageView& frame, const Plane& left, const Plane& right,
                    const EyeDraw& draw, const MutableBgraImageView& target) {
  const EyeViewport vp = fitEyeViewport(float(frame.width), float(frame.height), float(draw.width),
                                        float(draw.height));
  for (int py = 0; py < draw.height; ++py) {
    uint8_t* out = target.row(draw.y + py) + size_t(draw.x) * 4;
    for (int px = 0; px < draw.width; ++px) {
      const double cx = px + 0.5, cy = py + 0.5;
      uint8_t* o = out + size_t(px) * 4;
      if (cx < vp.x || cx >= double(vp.x) + vp.width || cy < vp.y ||
          cy >= double(vp.y) + vp.height) {
        o[0] = o[1] = o[2] = 0;
        o[3] = 255;
        continue;
      }
      const double u = (cx - vp.x) / vp.width, v = (cy - vp.y) / vp.height;
      const double s = draw.signedDepth;
      double us = u;
      if (s < 0) us = std::clamp(u + s * bilinear(left, u, v), 0.0, 1.0);
      if (s > 0) us = std::clamp(u + s * bilinear(right, u, v), 0.0, 1.0);
      for (int c = 0; c < 3; ++c) o[c] = uint8_t(std::lround(bilinearChannel(frame, c, us, v)));
      o[3] = 255;
    }
  }
}

}  // namespace vistrelle::ai3d::reference
