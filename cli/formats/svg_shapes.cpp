// One element's geometry and transform, read by SVG++: the shapes' path data (basic shapes
// arrive as paths), transforms, nested viewports. SVG++ reads one element's attributes at a
// time; the walk (svg_walk.cpp) visits the children itself. Arcs reach us unconverted (SVG++'s
// own arc conversion misbehaves on zero radii) and all flattening is ours (flatten.h).
// The traversal below takes ten named parameters, two more than Boost.Parameter's default. This
// is the only file that includes Boost.Parameter.
#define BOOST_PARAMETER_MAX_ARITY 10

#include <libxml/tree.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>

// The libxml2 policy needs libxml2's declarations first.
#include <svgpp/policy/xml/libxml2.hpp>
#include <svgpp/svgpp.hpp>

#include "format_detail.h"
#include "portable_math.h"
#include "svg_read.h"

// GCC 12 sees SVG++'s rect adapter read a width or height that a <rect> lacks: it does, after
// the error policy has marked the element failed, and the element is skipped whatever was read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace korrand::io::detail {
namespace {

using LengthFactory = svgpp::factory::length::unitless<>;

// One element as SVG++ reads its attributes: the transform it adds to `matrix`, and for a shape
// its subpaths in its own user space.
class ElementReader {
public:
    using length_factory_type = const LengthFactory;

    ElementReader(const LengthFactory& lengths, Diagnostics& diagnostics, const xmlNode* node,
                  const Affine& parent, const std::string& what)
        : lengths_(&lengths),
          diagnostics_(&diagnostics),
          node_(node),
          what_(&what),
          matrix_(parent) {}

    length_factory_type& length_factory() const { return *lengths_; }
    bool failed() const { return failed_; }
    bool disabled() const { return disabled_; }
    std::vector<Subpath>& subpaths() { return subpaths_; }

    // Called by the error policy: the element (and what it contains) is skipped with a warning.
    void Fail(const std::string& why, const std::string& detail = {}) const {
        if (failed_) return;
        failed_ = true;
        diagnostics_->Skip(node_, why, *what_, detail);
    }
    bool ReadSomething() const {
        return std::any_of(subpaths_.begin(), subpaths_.end(),
                           [](const Subpath& s) { return !s.primitives.empty() || s.closed; });
    }
    // Called by the error policy for what is read in part: a warning, the element kept.
    void Warn(const std::string& why, const std::string& detail) const {
        diagnostics_->Warn(node_, why, *what_ + detail);
    }

    // A transform list arrives step by step: SVG++ would make the matrices of rotate and skew
    // with the C library's sin, cos and tan. The steps are joined as SVG++ joins them and the
    // whole list applied before anything else moves the element.
    void transform_matrix(const boost::array<double, 6>& m) { Join(m); }
    void transform_translate(double tx, double ty) { Join({{1, 0, 0, 1, tx, ty}}); }
    void transform_scale(double sx, double sy) { Join({{sx, 0, 0, sy, 0, 0}}); }
    void transform_rotate(double angle) {
        const double radians = angle * boost::math::constants::degree<double>();
        const double cosine = math::Cos(radians), sine = math::Sin(radians);
        Join({{cosine, sine, -sine, cosine, 0, 0}});
    }
    void transform_skew_x(double angle) {
        Join({{1, 0, math::Tan(angle * boost::math::constants::degree<double>()), 1, 0, 0}});
    }
    void transform_skew_y(double angle) {
        Join({{1, math::Tan(angle * boost::math::constants::degree<double>()), 0, 1, 0, 0}});
    }
    const Affine& matrix() {
        ApplyTransform();
        return matrix_;
    }

    // Nested <svg> viewports (the root's is never read).
    void set_viewport(double x, double y, double width, double height) {
        ApplyTransform();
        matrix_ = matrix_ * Affine::Translate(x, y);
        if (!viewBox_) viewport_ = {width, height};
    }
    void set_viewbox_transform(double tx, double ty, double sx, double sy, bool) {
        ApplyTransform();
        matrix_ = matrix_ * Affine::Translate(tx, ty) * Affine::Scale(sx, sy);
    }
    void set_viewbox_size(double width, double height) {
        viewport_ = {width, height};
        viewBox_ = true;
    }
    // A nested viewport's size in its own user units; zero for other elements.
    Vec2 viewport() const { return viewport_; }
    void disable_rendering() { disabled_ = true; }

    void path_move_to(double x, double y, svgpp::tag::coordinate::absolute) {
        subpaths_.push_back(Subpath{{x, y}, {}, false});
        open_ = true;
        current_ = {x, y};
    }
    void path_line_to(double x, double y, svgpp::tag::coordinate::absolute) {
        Primitive line;
        line.p[0] = {x, y};
        Add(line);
    }
    void path_quadratic_bezier_to(double x1, double y1, double x, double y,
                                  svgpp::tag::coordinate::absolute) {
        Primitive q;
        q.kind = Primitive::Kind::Quadratic;
        q.p[0] = {x1, y1};
        q.p[1] = {x, y};
        Add(q);
    }
    void path_cubic_bezier_to(double x1, double y1, double x2, double y2, double x, double y,
                              svgpp::tag::coordinate::absolute) {
        Primitive c;
        c.kind = Primitive::Kind::Cubic;
        c.p[0] = {x1, y1};
        c.p[1] = {x2, y2};
        c.p[2] = {x, y};
        Add(c);
    }
    void path_elliptical_arc_to(double rx, double ry, double rotation, bool largeArc, bool sweep,
                                double x, double y, svgpp::tag::coordinate::absolute) {
        Primitive arc;
        switch (ArcToCenter(current_, rx, ry, rotation, largeArc ? ArcSize::Large : ArcSize::Small,
                            sweep ? ArcSweep::Positive : ArcSweep::Negative, {x, y}, arc)) {
            case ArcOutcome::Arc:
                Add(arc);
                break;
            case ArcOutcome::Line:
                path_line_to(x, y, svgpp::tag::coordinate::absolute());
                break;
            case ArcOutcome::Omitted:
                break;
        }
    }
    void path_close_subpath() {
        if (!open_) return;
        subpaths_.back().closed = true;
        current_ = subpaths_.back().start;  // a following command starts a new subpath here
        open_ = false;
    }
    void path_exit() { open_ = false; }
    // Never reached (children are not traversed), but the default context factory names them.
    template <class Tag>
    void on_enter_element(Tag) {}
    void on_exit_element() {}

private:
    // The transform list so far times `m`, each product as SVG++'s join of a list forms it.
    void Join(const boost::array<double, 6>& m) {
        boost::array<double, 6> joined;
        for (std::size_t i = 0; i < 2; ++i) {
            for (std::size_t j = 0; j < 3; ++j)
                joined[i + j * 2] = transform_[i] * m[j * 2] + transform_[i + 2] * m[j * 2 + 1];
            joined[i + 4] += transform_[i + 4];
        }
        transform_ = joined;
        hasTransform_ = true;
    }
    void ApplyTransform() {
        if (!hasTransform_) return;
        const auto& t = transform_;
        matrix_ = matrix_ * Affine{t[0], t[1], t[2], t[3], t[4], t[5]};
        transform_ = {{1, 0, 0, 1, 0, 0}};
        hasTransform_ = false;
    }

    void Add(const Primitive& primitive) {
        if (!open_) subpaths_.push_back(Subpath{current_, {}, false});  // drawing on after a close
        open_ = true;
        subpaths_.back().primitives.push_back(primitive);
        current_ = primitive.End();
    }

    const LengthFactory* lengths_;
    Diagnostics* diagnostics_;
    const xmlNode* node_;
    const std::string* what_;
    Affine matrix_;
    boost::array<double, 6> transform_{{1, 0, 0, 1, 0, 0}};
    bool hasTransform_ = false;
    mutable bool failed_ = false;
    bool disabled_ = false;
    Vec2 viewport_ = {0, 0};
    bool viewBox_ = false;
    std::vector<Subpath> subpaths_;
    bool open_ = false;
    Vec2 current_ = {0, 0};
};

// SVG++'s expansions of shorthands (translate(tx) as translate(tx 0), rotate about a point as a
// translation, a rotation and the translation back), each step handed to the reader unjoined.
struct TransformSteps {
    static const bool join_transforms = false;
    static const bool no_rotate_about_point = true;
    static const bool no_shorthands = true;
    static const bool only_matrix_transform = false;
};

}  // namespace
}  // namespace korrand::io::detail

template <>
struct svgpp::policy::transform::by_context<korrand::io::detail::ElementReader> {
    using type = korrand::io::detail::TransformSteps;
};

namespace korrand::io::detail {
namespace {

template <class Range>
std::string Excerpt(const Range& range) {
    std::string s(boost::begin(range), boost::end(range));
    if (s.size() > 60) s = s.substr(0, 57) + "...";
    return s;
}

// Bad values skip their element with a warning instead of aborting the file; what we don't read
// (unknown elements and attributes, other namespaces) is ignored quietly.
struct ErrorPolicy {
    using context_type = ElementReader;
    template <class C, class... A>
    static bool unknown_element(const C&, const A&...) {
        return true;
    }
    template <class C, class... A>
    static bool unexpected_element(const C&, const A&...) {
        return true;
    }
    template <class C, class... A>
    static bool unknown_attribute(const C&, const A&...) {
        return true;
    }
    template <class C, class... A>
    static bool unexpected_attribute(const C&, const A&...) {
        return true;
    }
    // A rect without a width, a circle without a radius: their size is zero (auto), and they
    // draw nothing (counted as of no length), as viewers draw them.
    template <class AttributeTag>
    static bool required_attribute_not_found(const ElementReader&, AttributeTag) {
        return false;
    }
    template <class AttributeTag, class Value>
    static bool parse_failed(const ElementReader& context, AttributeTag, const Value& value) {
        if constexpr (std::is_same_v<AttributeTag, svgpp::tag::attribute::d> ||
                      std::is_same_v<AttributeTag, svgpp::tag::attribute::points>) {
            // Viewers draw path data up to its first error: so is it read, when that draws.
            if (context.ReadSomething()) {
                context.Warn("path data with an error, read up to it as viewers draw it",
                             ": \"" + Excerpt(value) + "\"");
                return true;
            }
        }
        context.Fail(std::string("invalid value of \"") +
                         svgpp::attribute_name<char>::get<AttributeTag>() + "\"",
                     ": \"" + Excerpt(value) + "\"");
        return true;
    }
    template <class AttributeTag>
    static bool negative_value(const ElementReader& context, AttributeTag) {
        context.Fail(std::string("negative \"") + svgpp::attribute_name<char>::get<AttributeTag>() +
                     "\"");
        return true;
    }
    using intercepted_exception_type = svgpp::detail::dummy_exception;
    template <class XMLElement>
    static bool add_element_info(intercepted_exception_type&, const XMLElement&) {
        return true;
    }
};

// Our walk visits the children itself: SVG++ reads one element's attributes at a time.
struct AttributesOnly {
    template <class C>
    static bool proceed_to_element_content(C&) {
        return false;
    }
    template <class C>
    static bool proceed_to_next_child(C&) {
        return false;
    }
};

namespace e = svgpp::tag::element;

// An element SVG++ reads for us, by its tag and its name.
template <class Tag>
struct Element {
    using tag = Tag;
    const char* name;
};
// The shape elements, named once: the walk dashes them, SVG++ reads their geometry.
constexpr std::tuple<Element<e::path>, Element<e::polyline>, Element<e::polygon>, Element<e::line>,
                     Element<e::rect>, Element<e::circle>, Element<e::ellipse>>
    kShapeElements{{"path"}, {"polyline"}, {"polygon"}, {"line"},
                   {"rect"}, {"circle"},   {"ellipse"}};
// The containers SVG++ reads too: their transform, a nested viewport.
constexpr std::tuple<Element<e::svg>, Element<e::g>> kContainerElements{{"svg"}, {"g"}};

template <class Elements>
struct TagSet;
template <class... Tags>
struct TagSet<std::tuple<Element<Tags>...>> {
    using type = typename boost::mpl::set<Tags...>::type;
};
using ProcessedElements =
    TagSet<decltype(std::tuple_cat(kShapeElements, kContainerElements))>::type;

using ProcessedAttributes = boost::mpl::fold<
    boost::mpl::vector<
        svgpp::tag::attribute::transform,
        boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::x>,
        boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::y>,
        boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::width>,
        boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::height>,
        boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::viewBox>,
        boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::preserveAspectRatio>>,
    svgpp::traits::shapes_attributes_by_element,
    boost::mpl::insert<boost::mpl::_1, boost::mpl::_2>>::type;

// Geometry and transforms only: the style attribute holds nothing of either, and looking its
// properties up (case-insensitively, through the locale) cost a fifth of reading a large map.
struct AttributesWithoutStyle : svgpp::policy::attribute_traversal::default_policy {
    static const bool parse_style = false;
    static const bool css_hides_presentation_attribute = false;
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Where the number that starts at `i` ends (sign, digits, fraction, exponent); `i` if none does.
std::size_t NumberEnd(std::string_view s, std::size_t i) {
    std::size_t j = i, digits = 0;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    for (; j < s.size() && IsDigit(s[j]); ++j) ++digits;
    if (j < s.size() && s[j] == '.') {
        std::size_t k = j + 1, fraction = 0;
        for (; k < s.size() && IsDigit(s[k]); ++k) ++fraction;
        if (digits + fraction > 0) j = k;
        digits += fraction;
    }
    if (digits == 0) return i;
    if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
        std::size_t k = j + 1;
        if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
        if (k < s.size() && IsDigit(s[k])) {
            while (k < s.size() && IsDigit(s[k])) ++k;
            j = k;
        }
    }
    return j;
}

// Path data (or a polyline's points) that viewers read and SVG++'s grammar refuses, as it is
// to be read: arcs with negative radii ("A-20 -20 0 0 1 90 50"), drawn with the radii's
// absolute values, and numbers that end in their decimal point ("L 50. 20", "3.e1"), which
// SVG's path grammar allows. Empty where there is none. Only data with an arc or with a point
// that no digit follows is looked through.
std::string MendedPathData(std::string_view d) {
    bool trailingPoint = false;
    for (std::size_t p = d.find('.'); p != std::string_view::npos && !trailingPoint;
         p = d.find('.', p + 1))
        trailingPoint = p > 0 && IsDigit(d[p - 1]) && (p + 1 == d.size() || !IsDigit(d[p + 1]));
    if (!trailingPoint && std::memchr(d.data(), 'A', d.size()) == nullptr &&
        std::memchr(d.data(), 'a', d.size()) == nullptr)
        return {};
    std::string out;
    std::size_t copied = 0;  // d up to here is in out
    const auto mend = [&](std::size_t at, std::size_t length, std::string_view with) {
        out.append(d.substr(copied, at - copied)).append(with);
        copied = at + length;
    };
    char command = 0;
    std::size_t argument = 0;
    for (std::size_t i = 0; i < d.size();) {
        const char c = d[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == ',') {
            ++i;
            continue;
        }
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            command = c;
            argument = 0;
            ++i;
            continue;
        }
        const int at = command == 'A' || command == 'a' ? static_cast<int>(argument % 7) : -1;
        ++argument;
        if (at == 3 || at == 4) {  // a flag: one digit, which may touch what follows
            if (c != '0' && c != '1') break;
            ++i;
            continue;
        }
        const std::size_t end = NumberEnd(d, i);
        if (end == i) break;  // SVG++ reports the error
        if ((at == 0 || at == 1) && c == '-') mend(i, 1, " ");
        std::size_t point = i;
        while (point < end && d[point] != '.') ++point;
        // The point goes; a space keeps the number apart from a next one (".5" in "1..5").
        if (point < end && (point + 1 == end || !IsDigit(d[point + 1])))
            mend(point, 1, point + 1 == end ? " " : "");
        i = end;
    }
    if (copied == 0) return {};
    out.append(d.substr(copied));
    return out;
}

// A transform list whose numbers touch ("translate(10-5)", "scale(.5.5)", as minifiers write
// them, and viewers read them): the numbers apart. Empty where none touch.
std::string WithNumbersApart(std::string_view t) {
    std::string out;
    bool afterNumber = false;
    for (std::size_t i = 0; i < t.size();) {
        const std::size_t end = NumberEnd(t, i);
        if (end == i) {
            afterNumber = false;
            if (!out.empty()) out += t[i];
            ++i;
            continue;
        }
        if (afterNumber && out.empty()) out.assign(t.substr(0, i));
        if (afterNumber) out += ' ';
        if (!out.empty()) out.append(t.substr(i, end - i));
        afterNumber = true;
        i = end;
    }
    return out;
}

// An attribute's value as SVG++ reads it: the text the tree holds where it is one text node (as
// nearly every value is), else put together by libxml2. A copy of every value (path data above
// all) cost an allocation, a concatenation and a free each on a large drawing. Path data and
// transforms that viewers read and SVG++'s grammar does not are given to it as it reads them.
class AttributeValue {
public:
    explicit AttributeValue(const xmlAttr* a) {
        const xmlNode* child = a->children;
        if (child != nullptr && child->next == nullptr && child->type == XML_TEXT_NODE &&
            child->content != nullptr) {
            text_ = reinterpret_cast<const char*>(child->content);
        } else {
            xmlChar* text = xmlNodeListGetString(a->doc, child, 1);
            owned_ = svgpp::detail::libxml_string_ptr(text);
            text_ = text != nullptr ? reinterpret_cast<const char*>(text) : "";
        }
        if (a->ns != nullptr) return;
        const char* name = reinterpret_cast<const char*>(a->name);
        if (std::strcmp(name, "d") == 0 || std::strcmp(name, "points") == 0)
            mended_ = MendedPathData(text_);
        else if (std::strcmp(name, "transform") == 0)
            mended_ = WithNumbersApart(text_);
        if (!mended_.empty()) text_ = mended_.c_str();
    }
    boost::iterator_range<const char*> get_range() const { return boost::as_literal(text_); }

private:
    const char* text_ = nullptr;
    svgpp::detail::libxml_string_ptr owned_;
    std::string mended_;
};

// Attribute values without the whitespace around them, as viewers read them: SVG++ refuses a
// length such as x=" 1.5", which Inkscape's own icons hold and every viewer draws.
struct TrimmedAttributes : svgpp::policy::xml::attribute_iterator<xmlAttr*> {
    using Base = svgpp::policy::xml::attribute_iterator<xmlAttr*>;
    using attribute_value_type = AttributeValue;
    static attribute_value_type get_value(iterator_type a) { return AttributeValue(a); }
    static string_type get_string_range(const attribute_value_type& value) {
        const auto isSpace = [](char c) {
            return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
        };
        const string_type range = value.get_range();
        const char* begin = range.begin();
        const char* end = range.end();
        while (begin != end && isSpace(*begin)) ++begin;
        while (end != begin && isSpace(end[-1])) --end;
        return string_type(begin, end);
    }
    static string_type get_string_range(const attribute_name_type& name) {
        return Base::get_string_range(name);
    }
    // A rect's negative corner radius counts as not given (auto), as SVG 2 has it and viewers
    // draw it; SVG++ would skip the rect. Named so that SVG++ passes it by.
    static attribute_name_type get_local_name(iterator_type a) {
        return NegativeCornerRadius(a) ? boost::as_literal("negative-radius")
                                       : Base::get_local_name(a);
    }

private:
    static bool NegativeCornerRadius(iterator_type a) {
        const char* name = reinterpret_cast<const char*>(a->name);
        if (a->ns != nullptr || name[0] != 'r' || (name[1] != 'x' && name[1] != 'y') ||
            name[2] != '\0' || a->parent == nullptr ||
            std::strcmp(reinterpret_cast<const char*>(a->parent->name), "rect") != 0)
            return false;
        const AttributeValue value(a);
        const string_type text = get_string_range(value);
        const std::string_view number(text.begin(), static_cast<std::size_t>(text.size()));
        const std::size_t end = NumberEnd(number, 0);
        if (end == 0 || number[0] != '-') return false;
        // Negative, not -0: a digit other than 0 before any exponent.
        const std::string_view read = number.substr(0, end);
        const std::string_view mantissa = read.substr(0, read.find_first_of("eE"));
        return mantissa.find_first_of("123456789") != std::string_view::npos;
    }
};

// Defaults kept: basic shapes become paths. no_shorthands hands us absolute coordinates and arcs
// as arcs (SVG++ converts none of them to Béziers); transforms arrive as steps (TransformSteps).
using Traversal = svgpp::document_traversal<
    svgpp::processed_elements<ProcessedElements>, svgpp::processed_attributes<ProcessedAttributes>,
    svgpp::path_policy<svgpp::policy::path::no_shorthands>,
    svgpp::viewport_policy<svgpp::policy::viewport::calculate>,
    svgpp::length_policy<svgpp::policy::length::forward_to_method<ElementReader>>,
    svgpp::error_policy<ErrorPolicy>, svgpp::document_traversal_control_policy<AttributesOnly>,
    svgpp::attribute_traversal_policy<AttributesWithoutStyle>,
    svgpp::xml_attribute_policy<TrimmedAttributes>>;

// A viewBox fitted into a viewport as SVG++ works it out for the alignment its parser reads.
struct ViewBoxFit {
    double box[4] = {0, 0, 1, 1}, width = 1, height = 1;
    double tx = 0, ty = 0, sx = 1, sy = 1;
    template <class Align, class MeetOrSlice = svgpp::tag::value::meet>
    void set(svgpp::tag::attribute::preserveAspectRatio, bool, Align align, MeetOrSlice fit = {}) {
        svgpp::calculate_viewbox_transform<double>::calculate(width, height, box[0], box[1], box[2],
                                                              box[3], align, fit, tx, ty, sx, sy);
    }
};
// A preserveAspectRatio SVG++ cannot read leaves the default fit.
struct KeepDefaultFit {
    using context_type = ViewBoxFit;
    template <class Tag, class Value>
    static bool parse_failed(const ViewBoxFit&, Tag, const Value&) {
        return true;
    }
};

// Reads one element's attributes into `reader`; false for an element SVG++ does not read here.
bool LoadElement(xmlNode* node, ElementReader& reader) {
    const std::string_view name = Name(node);
    bool loaded = false;
    const auto load = [&](const auto& element) {
        if (loaded || name != element.name) return;
        loaded = true;
        Traversal::load_expected_element(node, reader,
                                         typename std::decay_t<decltype(element)>::tag());
    };
    std::apply([&](const auto&... element) { (load(element), ...); },
               std::tuple_cat(kShapeElements, kContainerElements));
    return loaded;
}

// The transform attribute of an element SVG++ is not asked to read (a, switch, use).
void ApplyTransformAttribute(const xmlNode* node, ElementReader& reader) {
    std::string text;
    if (!GetAttribute(node, "transform", &text)) return;
    if (std::string apart = WithNumbersApart(text); !apart.empty()) text = std::move(apart);
    svgpp::value_parser<svgpp::tag::type::transform_list, svgpp::error_policy<ErrorPolicy>>::parse(
        svgpp::tag::attribute::transform(), reader, text, svgpp::tag::source::attribute());
}

}  // namespace

Affine SymbolViewport(const xmlNode* symbol, double width, double height) {
    std::string text;
    ViewBoxFit fit;
    if (!GetAttribute(symbol, "viewBox", &text) || !ParseViewBox(text, fit.box) || !(width > 0) ||
        !(height > 0))
        return {};
    fit.width = width;
    fit.height = height;
    const svgpp::tag::attribute::preserveAspectRatio tag;
    fit.set(tag, false, svgpp::tag::value::xMidYMid());  // the default
    using Parser = svgpp::value_parser<svgpp::tag::attribute::preserveAspectRatio,
                                       svgpp::error_policy<KeepDefaultFit>>;
    if (GetAttribute(symbol, "preserveAspectRatio", &text))
        Parser::parse(tag, fit, text, svgpp::tag::source::attribute());
    return Affine::Translate(fit.tx, fit.ty) * Affine::Scale(fit.sx, fit.sy);
}

bool IsShapeName(std::string_view name) {
    return std::apply([&](const auto&... element) { return ((name == element.name) || ...); },
                      kShapeElements);
}

ElementGeometry ReadElement(const ReadContext& context, Diagnostics& diagnostics, xmlNode* node,
                            const Affine& parent, const std::string& what, Vec2 viewport) {
    LengthFactory lengths;
    if (viewport.x > 0 && viewport.y > 0)
        lengths.set_viewport_size(viewport.x, viewport.y);
    else if (context.page.viewportWidth > 0 && context.page.viewportHeight > 0)
        lengths.set_viewport_size(context.page.viewportWidth, context.page.viewportHeight);
    ElementReader reader(lengths, diagnostics, node, parent, what);
    if (!LoadElement(node, reader)) ApplyTransformAttribute(node, reader);
    ElementGeometry geometry;
    geometry.failed = reader.failed();
    geometry.disabled = reader.disabled();
    geometry.matrix = reader.matrix();
    geometry.viewport = reader.viewport();
    geometry.subpaths = std::move(reader.subpaths());
    return geometry;
}

}  // namespace korrand::io::detail
