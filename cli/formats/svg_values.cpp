// The values of the style properties the reader computes: paints with their alpha, opacities,
// lengths, dash arrays, and what a viewer draws with them. Written here rather than taken from
// SVG++, whose colour grammar is SVG 1.1's: it knows neither transparent, rgba(), hsla() nor
// #RRGGBBAA, which is exactly what decides whether a stroke is seen.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "svg_style.h"

namespace korrand::io::detail {
namespace {

bool Space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A CSS number at p (no leading space); its end in *end. False when there is none.
bool Number(const char* p, double* value, const char** end) {
    char* e = nullptr;
    // strtod would take hexadecimal, "inf" and "nan", none of which CSS has.
    const char* q = p;
    if (*q == '+' || *q == '-') ++q;
    if (!(std::isdigit(static_cast<unsigned char>(*q)) ||
          (*q == '.' && std::isdigit(static_cast<unsigned char>(q[1])))))
        return false;
    *value = std::strtod(p, &e);
    if (e == p || !std::isfinite(*value)) return false;
    *end = e;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The alpha of a functional colour's arguments: "r, g, b[, a]", "r g b[ / a]" (rgb, rgba, hsl,
// hsla alike). Numbers, percentages and angle units are accepted where the colour channels go.
bool FunctionAlpha(const std::string& args, double* alpha) {
    const char* p = args.c_str();
    int components = 0;
    bool slash = false, commas = false;
    *alpha = 1;
    for (;;) {
        while (Space(*p)) ++p;
        if (*p == '\0') break;
        if (components > 0) {
            if (*p == ',') {
                if (slash) return false;
                commas = true;
                ++p;
                while (Space(*p)) ++p;
            } else if (*p == '/') {
                if (commas || slash || components != 3) return false;
                slash = true;
                ++p;
                while (Space(*p)) ++p;
            } else if (commas) {
                return false;
            }
        }
        double v = 0;
        const char* end = nullptr;
        if (std::strncmp(p, "none", 4) == 0) {
            v = 0;
            end = p + 4;
        } else if (!Number(p, &v, &end)) {
            return false;
        }
        p = end;
        bool percent = false;
        if (*p == '%') {
            percent = true;
            ++p;
        } else {
            while (std::isalpha(static_cast<unsigned char>(*p))) ++p;  // deg, rad, turn
        }
        ++components;
        if (components == 4) *alpha = std::clamp(percent ? v / 100 : v, 0.0, 1.0);
        if (components > 4) return false;
    }
    return components == 3 || components == 4;
}

}  // namespace

bool ParseColorAlpha(const std::string& raw, double* alpha) {
    // A trailing ICC colour ("#fff icc-color(...)") does not change what is drawn here.
    std::string text = raw;
    if (const std::size_t icc = Lower(text).find("icc-color("); icc != std::string::npos)
        text.erase(icc);
    while (!text.empty() && Space(text.back())) text.pop_back();
    const std::string lower = Lower(text);
    if (lower.empty()) return false;
    if (lower == "transparent") {
        *alpha = 0;
        return true;
    }
    if (lower[0] == '#') {
        const std::size_t n = lower.size() - 1;
        for (std::size_t i = 1; i < lower.size(); ++i)
            if (HexDigit(lower[i]) < 0) return false;
        if (n == 3 || n == 6) {
            *alpha = 1;
        } else if (n == 4) {
            *alpha = HexDigit(lower[4]) / 15.0;
        } else if (n == 8) {
            *alpha = (HexDigit(lower[7]) * 16 + HexDigit(lower[8])) / 255.0;
        } else {
            return false;
        }
        return true;
    }
    const std::size_t open = lower.find('(');
    if (open != std::string::npos) {
        const std::string name = lower.substr(0, open);
        if (lower.back() != ')') return false;
        const std::string args = lower.substr(open + 1, lower.size() - open - 2);
        if (name == "rgb" || name == "rgba" || name == "hsl" || name == "hsla" || name == "hwb")
            return FunctionAlpha(args, alpha);
        // Colours of later CSS levels (lab(), color(), ...): an alpha after a slash, if any.
        const std::size_t slash = args.rfind('/');
        double v = 1;
        const char* end = nullptr;
        const char* p = slash == std::string::npos ? nullptr : args.c_str() + slash + 1;
        while (p != nullptr && Space(*p)) ++p;
        if (p != nullptr && Number(p, &v, &end))
            v = *end == '%' ? v / 100 : v;
        else
            v = 1;
        *alpha = std::clamp(v, 0.0, 1.0);
        return true;
    }
    // A colour keyword; only transparent is not opaque.
    for (const char c : lower)
        if (!(std::isalpha(static_cast<unsigned char>(c)))) return false;
    *alpha = 1;
    return true;
}

bool ParsePaint(const std::string& text, Paint* paint) {
    const std::string lower = Lower(text);
    Paint p;
    p.text = text;
    if (lower == "none") {
        p.kind = Paint::Kind::None;
    } else if (lower == "currentcolor") {
        p.kind = Paint::Kind::CurrentColor;
    } else if (lower == "context-fill") {
        p.kind = Paint::Kind::ContextFill;
    } else if (lower == "context-stroke") {
        p.kind = Paint::Kind::ContextStroke;
    } else if (lower.rfind("url(", 0) == 0) {
        // A paint server; its fallback is drawn only when the reference is missing.
        if (lower.find(')') == std::string::npos) return false;
        p.kind = Paint::Kind::Url;
    } else {
        p.kind = Paint::Kind::Color;
        if (!ParseColorAlpha(text, &p.alpha)) return false;
    }
    *paint = std::move(p);
    return true;
}

bool ParseOpacity(const std::string& text, double* opacity) {
    double v = 0;
    const char* end = nullptr;
    if (!Number(text.c_str(), &v, &end)) return false;
    if (*end == '%') {
        v /= 100;
        ++end;
    }
    if (*end != '\0') return false;
    *opacity = std::clamp(v, 0.0, 1.0);
    return true;
}

bool ParseCssLength(const std::string& text, CssLength* length) {
    double v = 0;
    const char* end = nullptr;
    if (!Number(text.c_str(), &v, &end)) return false;
    static const struct {
        const char* name;
        LengthUnit unit;
    } kUnits[] = {{"", LengthUnit::Number}, {"px", LengthUnit::Px},     {"mm", LengthUnit::Mm},
                  {"cm", LengthUnit::Cm},   {"in", LengthUnit::In},     {"pt", LengthUnit::Pt},
                  {"pc", LengthUnit::Pc},   {"%", LengthUnit::Percent}, {"em", LengthUnit::Em},
                  {"ex", LengthUnit::Ex}};
    const std::string unit = Lower(end);
    for (const auto& u : kUnits)
        if (unit == u.name) {
            *length = {v, u.unit};
            return true;
        }
    return false;
}

bool ParseDasharray(const std::string& text, std::vector<CssLength>* values) {
    std::vector<CssLength> out;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && Space(text[i])) ++i;
    if (Lower(text.substr(i)).rfind("none", 0) == 0) {
        std::size_t j = i + 4;
        while (j < n && Space(text[j])) ++j;
        if (j != n) return false;
        values->clear();
        return true;
    }
    bool comma = false;
    while (i < n) {
        std::size_t j = i;
        while (j < n && text[j] != ',' && !Space(text[j])) ++j;
        CssLength length;
        // Negative lengths make the whole list invalid.
        if (!ParseCssLength(text.substr(i, j - i), &length) || length.value < 0) return false;
        out.push_back(length);
        comma = false;
        while (j < n && (Space(text[j]) || (text[j] == ',' && !comma))) {
            if (text[j] == ',') comma = true;
            ++j;
        }
        i = j;
    }
    if (out.empty() || comma) return false;
    *values = std::move(out);
    return true;
}

bool IsDrawn(const ComputedStyle& style) {
    return !style.displayNone && style.visibility == Visibility::Visible && style.opacity > 0;
}

namespace {
bool PaintShows(const Paint& paint, const ComputedStyle& style) {
    switch (paint.kind) {
        case Paint::Kind::None:
            return false;
        case Paint::Kind::Color:
            return paint.alpha > 0;
        case Paint::Kind::CurrentColor:
            return style.colorAlpha > 0;
        case Paint::Kind::Url:
        case Paint::Kind::ContextFill:
        case Paint::Kind::ContextStroke:
            return true;
    }
    return true;
}
}  // namespace

bool PaintsStroke(const ComputedStyle& style) {
    return PaintShows(style.stroke, style) && style.strokeOpacity > 0 &&
           style.strokeWidth.value > 0;
}

bool PaintsFill(const ComputedStyle& style) {
    return PaintShows(style.fill, style) && style.fillOpacity > 0;
}

DashPattern ResolveDashes(const ComputedStyle& style, double percentBase, double scale) {
    DashPattern pattern;
    const auto user = [&](const CssLength& l) {
        switch (l.unit) {
            case LengthUnit::Number:
            case LengthUnit::Px:
                return l.value * scale;
            case LengthUnit::Mm:
                return l.value * (96 / 25.4) * scale;
            case LengthUnit::Cm:
                return l.value * (96 / 2.54) * scale;
            case LengthUnit::In:
                return l.value * 96 * scale;
            case LengthUnit::Pt:
                return l.value * (96.0 / 72) * scale;
            case LengthUnit::Pc:
                return l.value * 16 * scale;
            case LengthUnit::Percent:
                if (percentBase > 0) return l.value / 100 * percentBase;
                break;
            case LengthUnit::Em:
            case LengthUnit::Ex:
                break;
        }
        return std::nan("");
    };
    const std::vector<CssLength>& list = style.dasharray;
    if (list.empty()) return pattern;
    // An odd list repeats to an even one: dashes at even places, gaps at odd ones.
    const std::size_t count = list.size() % 2 == 1 ? 2 * list.size() : list.size();
    double sum = 0, gaps = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const double v = user(list[k % list.size()]);
        if (std::isnan(v)) {
            pattern.kind = DashPattern::Kind::Unresolved;
            return pattern;
        }
        sum += v;
        if (k % 2 == 1) gaps += v;
    }
    // Without a gap the dashes join into a solid line, as viewers draw them.
    if (!(gaps > 0) || !std::isfinite(sum)) return pattern;
    pattern.kind = DashPattern::Kind::Dashed;
    pattern.period = sum;
    const double offset = user(style.dashoffset);
    pattern.offset = std::isfinite(offset) ? offset : 0;
    return pattern;
}

}  // namespace korrand::io::detail
