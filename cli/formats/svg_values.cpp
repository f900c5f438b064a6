// The values of the style properties the reader computes: paints with their alpha, opacities,
// lengths, dash arrays, and what a viewer draws with them. Written here rather than taken from
// SVG++, whose colour grammar is SVG 1.1's: it knows neither transparent, rgba(), hsla() nor
// #RRGGBBAA, which is exactly what decides whether a stroke is seen.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "format_detail.h"
#include "svg_style.h"

namespace korrand::io::detail {
namespace {

bool Space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && Space(s.front())) s.remove_prefix(1);
    while (!s.empty() && Space(s.back())) s.remove_suffix(1);
    return s;
}

char LowerChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// ASCII case-insensitive: CSS keywords and units.
bool Is(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (LowerChar(text[i]) != lower[i]) return false;
    return true;
}
bool StartsWith(std::string_view text, std::string_view lower) {
    return text.size() >= lower.size() && Is(text.substr(0, lower.size()), lower);
}

// A CSS number at the start of `text`; the rest in *rest. False when there is none.
bool Number(std::string_view text, double* value, std::string_view* rest) {
    std::size_t i = 0;
    const bool minus = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) ++i;
    // from_chars would take "inf" and "nan", which CSS has not.
    if (!(i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) ||
                              (text[i] == '.' && i + 1 < text.size() &&
                               std::isdigit(static_cast<unsigned char>(text[i + 1]))))))
        return false;
    double v = 0;
    const auto r = std::from_chars(text.data() + i, text.data() + text.size(), v);
    if (r.ec != std::errc() || !std::isfinite(v)) return false;
    *value = minus ? -v : v;
    *rest = text.substr(static_cast<std::size_t>(r.ptr - text.data()));
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = LowerChar(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The alpha of a functional colour's arguments: "r, g, b[, a]", "r g b[ / a]" (rgb, rgba, hsl,
// hsla alike). Numbers, percentages and angle units are accepted where the colour channels go.
bool FunctionAlpha(std::string_view args, double* alpha) {
    int components = 0;
    bool slash = false, commas = false;
    *alpha = 1;
    for (;;) {
        args = Trimmed(args);
        if (args.empty()) break;
        if (components > 0) {
            if (args[0] == ',') {
                if (slash) return false;
                commas = true;
                args = Trimmed(args.substr(1));
            } else if (args[0] == '/') {
                if (commas || slash || components != 3) return false;
                slash = true;
                args = Trimmed(args.substr(1));
            } else if (commas) {
                return false;
            }
        }
        double v = 0;
        if (StartsWith(args, "none")) {
            args.remove_prefix(4);
        } else if (!Number(args, &v, &args)) {
            return false;
        }
        bool percent = false;
        if (!args.empty() && args[0] == '%') {
            percent = true;
            args.remove_prefix(1);
        } else {
            while (!args.empty() && std::isalpha(static_cast<unsigned char>(args[0])))
                args.remove_prefix(1);  // deg, rad, turn
        }
        ++components;
        if (components == 4) *alpha = std::clamp(percent ? v / 100 : v, 0.0, 1.0);
        if (components > 4) return false;
    }
    return components == 3 || components == 4;
}

}  // namespace

bool ParseColorAlpha(std::string_view text, double* alpha) {
    // A trailing ICC colour ("#fff icc-color(...)") does not change what is drawn here.
    for (std::size_t at = 0; at + 10 <= text.size(); ++at)
        if (Is(text.substr(at, 10), "icc-color(")) {
            text = text.substr(0, at);
            break;
        }
    text = Trimmed(text);
    if (text.empty()) return false;
    if (Is(text, "transparent")) {
        *alpha = 0;
        return true;
    }
    if (text[0] == '#') {
        const std::size_t n = text.size() - 1;
        for (std::size_t i = 1; i < text.size(); ++i)
            if (HexDigit(text[i]) < 0) return false;
        if (n == 3 || n == 6) {
            *alpha = 1;
        } else if (n == 4) {
            *alpha = HexDigit(text[4]) / 15.0;
        } else if (n == 8) {
            *alpha = (HexDigit(text[7]) * 16 + HexDigit(text[8])) / 255.0;
        } else {
            return false;
        }
        return true;
    }
    const std::size_t open = text.find('(');
    if (open != std::string_view::npos) {
        const std::string_view name = text.substr(0, open);
        if (text.back() != ')') return false;
        const std::string_view args = text.substr(open + 1, text.size() - open - 2);
        if (Is(name, "rgb") || Is(name, "rgba") || Is(name, "hsl") || Is(name, "hsla") ||
            Is(name, "hwb"))
            return FunctionAlpha(args, alpha);
        // Colours of later CSS levels (lab(), color(), ...): an alpha after a slash, if any.
        const std::size_t slash = args.rfind('/');
        double v = 1;
        std::string_view rest;
        if (slash == std::string_view::npos || !Number(Trimmed(args.substr(slash + 1)), &v, &rest))
            v = 1;
        else if (!rest.empty() && rest[0] == '%')
            v /= 100;
        *alpha = std::clamp(v, 0.0, 1.0);
        return true;
    }
    // A colour keyword; only transparent is not opaque.
    for (const char c : text)
        if (!std::isalpha(static_cast<unsigned char>(c))) return false;
    *alpha = 1;
    return true;
}

bool ParsePaint(std::string_view text, Paint* paint) {
    text = Trimmed(text);
    Paint p;
    if (Is(text, "none")) {
        p.kind = Paint::Kind::None;
    } else if (Is(text, "currentcolor")) {
        p.kind = Paint::Kind::CurrentColor;
    } else if (Is(text, "context-fill")) {
        p.kind = Paint::Kind::ContextFill;
    } else if (Is(text, "context-stroke")) {
        p.kind = Paint::Kind::ContextStroke;
    } else if (StartsWith(text, "url(")) {
        // A paint server; its fallback is drawn only when the reference is missing.
        if (text.find(')') == std::string_view::npos) return false;
        p.kind = Paint::Kind::Url;
    } else {
        p.kind = Paint::Kind::Color;
        if (!ParseColorAlpha(text, &p.alpha)) return false;
    }
    p.text = std::string(text);
    *paint = std::move(p);
    return true;
}

bool ParseOpacity(std::string_view text, double* opacity) {
    double v = 0;
    std::string_view rest;
    if (!Number(Trimmed(text), &v, &rest)) return false;
    if (!rest.empty() && rest[0] == '%') {
        v /= 100;
        rest.remove_prefix(1);
    }
    if (!rest.empty()) return false;
    *opacity = std::clamp(v, 0.0, 1.0);
    return true;
}

bool ParseCssLength(std::string_view text, CssLength* length) {
    double v = 0;
    std::string_view unit;
    if (!Number(Trimmed(text), &v, &unit)) return false;
    static const struct {
        const char* name;
        LengthUnit unit;
    } kUnits[] = {{"", LengthUnit::Number}, {"px", LengthUnit::Px},     {"mm", LengthUnit::Mm},
                  {"cm", LengthUnit::Cm},   {"in", LengthUnit::In},     {"pt", LengthUnit::Pt},
                  {"pc", LengthUnit::Pc},   {"%", LengthUnit::Percent}, {"em", LengthUnit::Em},
                  {"ex", LengthUnit::Ex}};
    for (const auto& u : kUnits)
        if (Is(unit, u.name)) {
            *length = {v, u.unit};
            return true;
        }
    return false;
}

bool ParseDasharray(std::string_view text, std::vector<CssLength>* values) {
    text = Trimmed(text);
    if (Is(text, "none")) {
        values->clear();
        return true;
    }
    // A dash array a viewer works out (custom properties, calc()): dashed there, not known here.
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    bool computed = false;
    for (const char* function : {"var(", "calc(", "min(", "max(", "clamp(", "env(", "attr("})
        computed = computed || lower.find(function) != std::string::npos;
    if (computed) {
        *values = {CssLength{0, LengthUnit::Computed}};
        return true;
    }
    std::vector<CssLength> out;
    std::size_t i = 0;
    const std::size_t n = text.size();
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

bool ParsePaintOrder(std::string_view text, bool* strokeBeforeFill, bool* strokeBeforeMarkers) {
    text = Trimmed(text);
    // Each layer's place in the order: fill 0, stroke 1, markers 2 unless the list says
    // otherwise; those it leaves out keep their order after the ones it names.
    int place[3] = {-1, -1, -1};
    int next = 0;
    if (!Is(text, "normal")) {
        for (std::size_t i = 0; i < text.size();) {
            std::size_t j = i;
            while (j < text.size() && !Space(text[j])) ++j;
            const std::string_view word = text.substr(i, j - i);
            const int layer = Is(word, "fill")      ? 0
                              : Is(word, "stroke")  ? 1
                              : Is(word, "markers") ? 2
                                                    : -1;
            if (layer < 0 || place[layer] >= 0) return false;
            place[layer] = next++;
            for (i = j; i < text.size() && Space(text[i]);) ++i;
        }
        if (next == 0) return false;
    }
    for (int& p : place)
        if (p < 0) p = next++;
    *strokeBeforeFill = place[1] < place[0];
    *strokeBeforeMarkers = place[1] < place[2];
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

namespace {
void AppendLength(std::string& out, const CssLength& l) {
    static const char* const kSuffix[] = {"",   "px", "mm", "cm", "in", "pt",
                                          "pc", "%",  "em", "ex", ""};
    AppendDouble(out, l.value);
    out += kSuffix[static_cast<int>(l.unit)];
}
}  // namespace

std::vector<std::pair<std::string, std::string>> StrokeDeclarations(const ComputedStyle& style) {
    std::string width, opacity;
    AppendLength(width, style.strokeWidth);
    AppendDouble(opacity, style.strokeOpacity);
    return {{"stroke", style.stroke.kind == Paint::Kind::None ? "none" : style.stroke.text},
            {"stroke-width", width},
            {"stroke-opacity", opacity}};
}

std::vector<std::pair<std::string, std::string>> DrawnDeclarations(const ComputedStyle& style,
                                                                   double percentBase) {
    const auto paint = [](const Paint& p) { return p.kind == Paint::Kind::None ? "none" : p.text; };
    const auto number = [](double v) {
        std::string text;
        AppendDouble(text, v);
        return text;
    };
    // A percentage is of the viewport where the element stands, not where it is copied to.
    const auto length = [&](const CssLength& l) {
        std::string text;
        if (l.unit == LengthUnit::Percent && percentBase > 0)
            AppendDouble(text, l.value / 100 * percentBase);
        else
            AppendLength(text, l);
        return text;
    };
    std::vector<std::pair<std::string, std::string>> out = {
        {"fill", paint(style.fill)},
        {"fill-opacity", number(style.fillOpacity)},
        {"stroke", paint(style.stroke)},
        {"stroke-opacity", number(style.strokeOpacity)},
        {"stroke-width", length(style.strokeWidth)},
        {"opacity", number(style.opacity)}};
    std::string dashes;
    bool known = true;
    for (const CssLength& l : style.dasharray) {
        if (!dashes.empty()) dashes += ',';
        dashes += length(l);
        known = known && l.unit != LengthUnit::Computed;
    }
    if (known) {
        out.push_back({"stroke-dasharray", dashes.empty() ? "none" : dashes});
        out.push_back({"stroke-dashoffset", length(style.dashoffset)});
    }
    return out;
}

double UserUnits(const CssLength& l) {
    switch (l.unit) {
        case LengthUnit::Number:
        case LengthUnit::Px:
            return l.value;
        case LengthUnit::Mm:
            return l.value * (96 / 25.4);
        case LengthUnit::Cm:
            return l.value * (96 / 2.54);
        case LengthUnit::In:
            return l.value * 96;
        case LengthUnit::Pt:
            return l.value * (96.0 / 72);
        case LengthUnit::Pc:
            return l.value * 16;
        default:
            return std::nan("");
    }
}

DashPattern ResolveDashes(const ComputedStyle& style, double percentBase, double scale) {
    DashPattern pattern;
    const auto user = [&](const CssLength& l) {
        switch (l.unit) {
            case LengthUnit::Percent:
                return percentBase > 0 ? l.value / 100 * percentBase : std::nan("");
            case LengthUnit::Em:
                return l.value * style.fontSize * scale;
            case LengthUnit::Ex:  // half an em, as CSS takes it without the font's x-height
                return l.value * style.fontSize / 2 * scale;
            default:
                return UserUnits(l) * scale;
        }
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
    if (!(gaps > 0) || !std::isfinite(sum)) {
        pattern.kind = DashPattern::Kind::Solid;
        return pattern;
    }
    // Dashes of no length are drawn only by their caps: round or square ones make dots.
    pattern.kind =
        sum - gaps > 0 || !style.buttCaps ? DashPattern::Kind::Dashed : DashPattern::Kind::Blank;
    pattern.period = sum;
    const double offset = user(style.dashoffset);
    pattern.offset = std::isfinite(offset) ? offset : 0;
    return pattern;
}

}  // namespace korrand::io::detail
