#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/Format.h>

namespace fernwick {

FormatArg& FormatArg::operator=(const FormatArg& other) {
  kind_ = other.kind_;
  wide_ = other.wide_;
  signed_ = other.signed_;
  unsigned_ = other.unsigned_;
  real_ = other.real_;
  char_ = other.char_;
  pointer_ = other.pointer_;
  // A character argument refers to its own storage.
  text_ = (other.text_.data() == &other.char_) ? std::string_view(&char_, 1) : other.text_;
  return *this;
}

namespace {

// Longest precision honoured for reals: a double has no more digits to show.
constexpr int kMaxRealDigits = 18;
// Largest width or precision accepted, so that a hostile format cannot ask
// for gigabytes of padding.
constexpr long kMaxWidth = 1 << 20;

[[noreturn]] void Invalid(std::string_view fmt) {
  throw EConvertError("Format '" + std::string(fmt) + "' invalid or incompatible with argument");
}

// A finite real as decimal digits: value = d0.d1d2... x 10^exponent. Taken
// with 17 significant digits (all a double holds), then rounded in decimal,
// half away from zero, as the host framework rounds ("%.0f" of 2.5 is "3",
// of -0.5 is "-1").
struct DecimalReal {
  bool negative = false;
  std::string digits;  // empty for zero
  int exponent = 0;

  explicit DecimalReal(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.16E", value);
    const char* p = buffer;
    if (*p == '-') {
      negative = true;
      ++p;
    }
    for (; *p != 'E' && *p != '\0'; ++p) {
      if (*p >= '0' && *p <= '9') digits += *p;
    }
    exponent = (*p == 'E') ? std::atoi(p + 1) : 0;
    Normalize();
  }

  // Keeps `keep` significant digits (fewer than none leaves zero).
  void Round(int keep) {
    if (keep >= static_cast<int>(digits.size())) return;
    if (keep < 0) {
      digits.clear();
      return;
    }
    const bool up = digits[static_cast<std::size_t>(keep)] >= '5';
    digits.resize(static_cast<std::size_t>(keep));
    if (up) {
      int i = keep - 1;
      while (i >= 0 && digits[static_cast<std::size_t>(i)] == '9')
        digits[static_cast<std::size_t>(i--)] = '0';
      if (i >= 0) {
        ++digits[static_cast<std::size_t>(i)];
      } else {
        digits.insert(digits.begin(), '1');
        ++exponent;
      }
    }
    Normalize();
  }

  bool IsZero() const { return digits.empty(); }

  // The digit standing for 10^power.
  char DigitOf(int power) const {
    const int index = exponent - power;
    return (index >= 0 && index < static_cast<int>(digits.size()))
               ? digits[static_cast<std::size_t>(index)]
               : '0';
  }

  std::string Sign() const { return negative && !IsZero() ? "-" : ""; }

 private:
  void Normalize() {
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    if (digits.empty()) {
      exponent = 0;
      return;
    }
    std::size_t lead = 0;
    while (lead < digits.size() && digits[lead] == '0') ++lead;
    digits.erase(0, lead);
    exponent -= static_cast<int>(lead);
  }
};

// "ddd.dd" with `decimals` decimals, without sign, from an already rounded
// value.
std::string FixedDigits(const DecimalReal& d, int decimals) {
  std::string out;
  for (int power = std::max(d.exponent, 0); power >= 0; --power) out += d.DigitOf(power);
  if (decimals > 0) {
    out += '.';
    for (int power = -1; power >= -decimals; --power) out += d.DigitOf(power);
  }
  return out;
}

std::string FormatFixed(double value, int decimals) {
  DecimalReal d(value);
  d.Round(d.exponent + 1 + decimals);
  return d.Sign() + FixedDigits(d, decimals);
}

// Inserts "," between groups of three digits of the integer part of a fixed
// text such as "1234567.50".
std::string GroupThousands(const std::string& fixed) {
  std::size_t end = fixed.find('.');
  if (end == std::string::npos) end = fixed.size();
  std::string out;
  for (std::size_t i = 0; i < end; ++i) {
    out += fixed[i];
    const std::size_t left = end - i - 1;
    if (left > 0 && left % 3 == 0) out += ',';
  }
  out += fixed.substr(end);
  return out;
}

std::string NonFinite(double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

// Scientific: "d.ddddE+ddd" with `digits` digits in all and an exponent of at
// least three digits.
std::string FormatExponent(double value, int digits) {
  DecimalReal d(value);
  d.Round(digits);
  std::string mantissa(1, d.DigitOf(d.exponent));
  if (digits > 1) {
    mantissa += '.';
    for (int i = 1; i < digits; ++i) mantissa += d.DigitOf(d.exponent - i);
  }
  const std::string magnitude = std::to_string(d.exponent < 0 ? -d.exponent : d.exponent);
  std::string out = d.Sign();
  out += mantissa;
  out += d.exponent < 0 ? "E-" : "E+";
  if (magnitude.size() < 3) out.append(3 - magnitude.size(), '0');
  out += magnitude;
  return out;
}

// General: fixed when the value has no more integer digits than `digits` and
// is at least 0.00001 in magnitude, otherwise scientific; no trailing zeros
// and no bare decimal point; the exponent has no leading zeros and a sign only
// when negative ("1E20", "1.5E-7").
std::string FormatGeneral(double value, int digits) {
  DecimalReal d(value);
  d.Round(digits);
  if (d.IsZero()) return "0";
  const int count = static_cast<int>(d.digits.size());
  if (d.exponent < digits && d.exponent >= -5) {
    return d.Sign() + FixedDigits(d, std::max(0, count - 1 - d.exponent));
  }
  std::string mantissa = d.digits.substr(0, 1);
  if (count > 1) {
    mantissa += '.';
    mantissa.append(d.digits, 1);
  }
  return d.Sign() + mantissa + "E" + std::to_string(d.exponent);
}

std::string PadDigits(std::string digits, long precision) {
  if (precision > 0 && static_cast<long>(digits.size()) < precision) {
    digits.insert(0, static_cast<std::size_t>(precision) - digits.size(), '0');
  }
  return digits;
}

std::string ToHex(std::uint64_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return out;
}

class Formatter {
 public:
  Formatter(std::string_view fmt, std::initializer_list<FormatArg> args)
      : fmt_(fmt), args_(args.begin(), args.end()) {}

  std::string Run() {
    std::string out;
    std::size_t i = 0;
    while (i < fmt_.size()) {
      const std::size_t pct = fmt_.find('%', i);
      if (pct == std::string_view::npos) {
        out.append(fmt_.substr(i));
        break;
      }
      out.append(fmt_.substr(i, pct - i));
      pos_ = pct + 1;
      out += Directive();
      i = pos_;
    }
    return out;
  }

 private:
  bool AtEnd() const { return pos_ >= fmt_.size(); }
  char Peek() const { return AtEnd() ? '\0' : fmt_[pos_]; }

  const FormatArg& NextArg() {
    if (next_arg_ >= args_.size()) Invalid(fmt_);
    return args_[next_arg_++];
  }

  // A decimal number or "*"; -1 when neither is there.
  long Number() {
    if (Peek() == '*') {
      ++pos_;
      const FormatArg& arg = NextArg();
      std::int64_t v;
      if (arg.GetKind() == FormatArg::Kind::kSigned) {
        v = arg.Signed();
      } else if (arg.GetKind() == FormatArg::Kind::kUnsigned) {
        v = arg.Unsigned() > static_cast<std::uint64_t>(kMaxWidth)
                ? kMaxWidth + 1
                : static_cast<std::int64_t>(arg.Unsigned());
      } else {
        Invalid(fmt_);
      }
      if (v > kMaxWidth) Invalid(fmt_);
      return v < 0 ? 0 : static_cast<long>(v);
    }
    if (Peek() < '0' || Peek() > '9') return -1;
    long v = 0;
    while (Peek() >= '0' && Peek() <= '9') {
      v = v * 10 + (Peek() - '0');
      if (v > kMaxWidth) Invalid(fmt_);
      ++pos_;
    }
    return v;
  }

  std::string Directive() {
    if (Peek() == '%') {
      ++pos_;
      return "%";
    }
    long width = Number();
    if (Peek() == ':') {
      ++pos_;
      if (width < 0) Invalid(fmt_);
      next_arg_ = static_cast<std::size_t>(width);
      width = -1;
      if (Peek() == '-') {
        left_ = true;
        ++pos_;
      } else {
        left_ = false;
      }
      width = Number();
    } else {
      left_ = false;
      if (width < 0 && Peek() == '-') {
        left_ = true;
        ++pos_;
        width = Number();
      }
    }
    long precision = -1;
    if (Peek() == '.') {
      ++pos_;
      precision = Number();
      if (precision < 0) Invalid(fmt_);
    }
    if (AtEnd()) Invalid(fmt_);
    const char type = fmt_[pos_++];
    std::string text = Convert(type, precision);
    if (width > 0 && static_cast<long>(text.size()) < width) {
      const std::size_t pad = static_cast<std::size_t>(width) - text.size();
      if (left_) {
        text.append(pad, ' ');
      } else {
        text.insert(0, pad, ' ');
      }
    }
    return text;
  }

  std::string Convert(char type, long precision) {
    switch (type) {
      case 'd':
      case 'D':
        return Decimal(NextArg(), precision);
      case 'u':
      case 'U':
        return Unsigned(NextArg(), precision);
      case 'x':
      case 'X':
        return PadDigits(ToHex(Bits(NextArg())), precision);
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'n':
      case 'N':
      case 'm':
      case 'M':
        return RealText(type, NextArg(), precision);
      case 's':
      case 'S': {
        const FormatArg& arg = NextArg();
        if (arg.GetKind() != FormatArg::Kind::kText) Invalid(fmt_);
        std::string_view text = arg.Text();
        if (precision >= 0 && static_cast<std::size_t>(precision) < text.size()) {
          text = text.substr(0, static_cast<std::size_t>(precision));
        }
        return std::string(text);
      }
      case 'p':
      case 'P': {
        const FormatArg& arg = NextArg();
        if (arg.GetKind() != FormatArg::Kind::kPointer) Invalid(fmt_);
        return PadDigits(ToHex(reinterpret_cast<std::uintptr_t>(arg.Pointer())),
                         static_cast<long>(sizeof(void*) * 2));
      }
      default:
        Invalid(fmt_);
    }
  }

  std::string Decimal(const FormatArg& arg, long precision) {
    bool negative = false;
    std::uint64_t magnitude;
    if (arg.GetKind() == FormatArg::Kind::kSigned) {
      negative = arg.Signed() < 0;
      magnitude = negative ? 0 - static_cast<std::uint64_t>(arg.Signed())
                           : static_cast<std::uint64_t>(arg.Signed());
    } else if (arg.GetKind() == FormatArg::Kind::kUnsigned) {
      magnitude = arg.Unsigned();
    } else {
      Invalid(fmt_);
    }
    std::string out = negative ? "-" : "";
    out += PadDigits(std::to_string(magnitude), precision);
    return out;
  }

  std::string Unsigned(const FormatArg& arg, long precision) {
    return PadDigits(std::to_string(Bits(arg)), precision);
  }

  // The integer's bits as unsigned, two's complement of its own width.
  std::uint64_t Bits(const FormatArg& arg) {
    if (arg.GetKind() == FormatArg::Kind::kUnsigned) return arg.Unsigned();
    if (arg.GetKind() != FormatArg::Kind::kSigned) Invalid(fmt_);
    const auto bits = static_cast<std::uint64_t>(arg.Signed());
    return arg.IsWide() ? bits : (bits & 0xFFFFFFFFu);
  }

  std::string RealText(char type, const FormatArg& arg, long precision) {
    if (arg.GetKind() != FormatArg::Kind::kReal) Invalid(fmt_);
    const double value = arg.Real();
    if (!std::isfinite(value)) return NonFinite(value);
    const char lower = static_cast<char>(type | 0x20);
    if (lower == 'e' || lower == 'g') {
      int digits = precision < 0 ? 15 : static_cast<int>(precision);
      if (digits < 1) digits = 1;
      if (digits > kMaxRealDigits) digits = kMaxRealDigits;
      return lower == 'e' ? FormatExponent(value, digits) : FormatGeneral(value, digits);
    }
    int decimals = precision < 0 ? 2 : static_cast<int>(precision);
    if (decimals > kMaxRealDigits) decimals = kMaxRealDigits;
    if (lower == 'f') return FormatFixed(value, decimals);
    DecimalReal d(value);
    d.Round(d.exponent + 1 + decimals);
    const std::string amount = GroupThousands(FixedDigits(d, decimals));
    if (lower == 'n') return d.Sign() + amount;
    return d.Sign().empty() ? "$" + amount : "($" + amount + ")";
  }

  std::string_view fmt_;
  std::vector<FormatArg> args_;
  std::size_t pos_ = 0;
  std::size_t next_arg_ = 0;
  bool left_ = false;
};

}  // namespace

std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args) {
  return Formatter(fmt, args).Run();
}

}  // namespace fernwick
