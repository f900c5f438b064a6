// SVG reading: every path, polyline, polygon, line, rect, circle and ellipse becomes one line
// object, each subpath one segment, in the root's user space (the root's own viewport mapping is
// not applied, so writing back with the same width/height/viewBox lines up).
//
// The only file that includes SVG++ (it is slow to compile). SVG++ parses attributes, resolves
// relative/shorthand path commands and turns basic shapes into paths; arcs reach us unconverted
// (its own arc conversion misbehaves on zero radii) and all flattening is ours (flatten.h).
// Not read: <use>, <symbol>, <defs> content, text, clipping, display/visibility and style sheets;
// a nested <svg> moves and scales its content but does not clip it; <switch> draws every child.
// The XML reader, rapidxml, knows no DTD: a DOCTYPE is skipped unread, so no entity is ever
// expanded or fetched; only the five predefined entities and character references are decoded.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>

#include <rapidxml_ns/rapidxml_ns.hpp>
#include <svgpp/policy/xml/rapidxml_ns.hpp>
#include <svgpp/svgpp.hpp>

#include "flatten.h"
#include "format_detail.h"

namespace korrand::io::detail {
namespace {

using XmlNode = rapidxml_ns::xml_node<char>;

constexpr int kMaxNesting = 256;                   // element depth; the parsers recurse per level
constexpr std::size_t kMaxPoints = 20'000'000;     // flattened points in one file
constexpr const char kSvgNamespace[] = "http://www.w3.org/2000/svg";

struct RawShape {
  std::string name;
  std::vector<Subpath> subpaths;  // in root user space
  std::string tag;
  int line = 0;
};

struct Reader {
  std::string file;
  std::string original;  // unmodified text: the parse rewrites its buffer in place
  const char* buffer = nullptr;
  std::vector<RawShape> shapes;
  std::vector<std::string> warnings;
  std::map<std::string, int, std::less<>> counts;  // shapes seen per tag, for default names
  svgpp::factory::length::unitless<> lengths;

  int LineOf(const char* p) const {
    if (p < buffer || p > buffer + original.size()) return 0;
    return LineAt(original.data(), original.data() + (p - buffer));
  }
  void Warn(int line, const std::string& message) {
    std::string text = file.empty() ? std::string("<input>") : file;
    if (line > 0) text += ":" + std::to_string(line);
    warnings.push_back(text + ": " + message);
  }
};

std::string_view LocalName(const XmlNode* node) { return {node->local_name(), node->local_name_size()}; }

std::string AttributeValue(const XmlNode* node, std::string_view name, bool* found = nullptr) {
  for (auto* a = node->first_attribute(); a; a = a->next_attribute())
    if (a->prefix_size() == 0 && std::string_view(a->local_name(), a->local_name_size()) == name) {
      if (found) *found = true;
      return std::string(a->value(), a->value_size());
    }
  if (found) *found = false;
  return {};
}

template <class Tag>
constexpr bool kIsShape = std::is_same_v<Tag, svgpp::tag::element::path> ||
                          std::is_same_v<Tag, svgpp::tag::element::rect> ||
                          std::is_same_v<Tag, svgpp::tag::element::circle> ||
                          std::is_same_v<Tag, svgpp::tag::element::ellipse> ||
                          std::is_same_v<Tag, svgpp::tag::element::line> ||
                          std::is_same_v<Tag, svgpp::tag::element::polyline> ||
                          std::is_same_v<Tag, svgpp::tag::element::polygon>;

// One element being read: its transform, and for a shape the subpaths gathered so far.
class Context {
 public:
  using length_factory_type = const svgpp::factory::length::unitless<>;

  Context(Reader& reader, const XmlNode* node) : reader_(&reader), node_(node), root_(true) {}

  Context(const Context& parent, const XmlNode* node, bool shape)
      : reader_(parent.reader_),
        node_(node),
        shape_(shape),
        matrix_(parent.matrix_),
        parentFailed_(parent.failed_ || parent.parentFailed_),
        disabled_(parent.disabled_) {
    if (shape_) {
      bool hasId = false;
      name_ = AttributeValue(node, "id", &hasId);
      const std::string tag(LocalName(node));
      const int index = ++reader_->counts[tag];
      if (!hasId || name_.empty()) name_ = tag + " " + std::to_string(index);
    }
  }

  length_factory_type& length_factory() const { return reader_->lengths; }

  // Called by the error policy: the element (and what it contains) is skipped with a warning.
  void Fail(const std::string& why) const {
    if (failed_ || parentFailed_) return;
    const std::string tag(LocalName(node_));
    if (root_) {
      reader_->Warn(reader_->LineOf(node_->name()), "<svg>: " + why + " (ignored)");
      return;
    }
    failed_ = true;
    std::string what = "<" + tag + (shape_ ? " " + name_ : std::string()) + ">";
    if (!shape_) what += " and its contents";
    reader_->Warn(reader_->LineOf(node_->name()), "skipped " + what + ": " + why);
  }

  // --- transforms: all arrive before the element ends, whatever the attribute order ---
  void transform_matrix(const boost::array<double, 6>& m) {
    matrix_ = matrix_ * Affine{m[0], m[1], m[2], m[3], m[4], m[5]};
  }

  // --- nested <svg> viewports; the root keeps its own user space ---
  void set_viewport(double x, double y, double, double) {
    if (!root_) matrix_ = matrix_ * Affine::Translate(x, y);
  }
  void set_viewbox_transform(double tx, double ty, double sx, double sy, bool) {
    if (!root_) matrix_ = matrix_ * Affine::Translate(tx, ty) * Affine::Scale(sx, sy);
  }
  void set_viewbox_size(double, double) {}
  void disable_rendering() {
    if (!root_) disabled_ = true;
  }

  // --- path events, absolute coordinates in the element's own space ---
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
  void path_quadratic_bezier_to(double x1, double y1, double x, double y, svgpp::tag::coordinate::absolute) {
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
  void path_elliptical_arc_to(double rx, double ry, double rotation, bool largeArc, bool sweep, double x, double y,
                              svgpp::tag::coordinate::absolute) {
    Primitive arc;
    bool isLine = false;
    if (ArcToCenter(current_, rx, ry, rotation, largeArc, sweep, {x, y}, arc, &isLine)) {
      Add(arc);
    } else if (isLine) {
      path_line_to(x, y, svgpp::tag::coordinate::absolute());
    }
  }
  void path_close_subpath() {
    if (!open_) return;
    subpaths_.back().closed = true;
    current_ = subpaths_.back().start;  // a following command starts a new subpath here
    open_ = false;
  }
  void path_exit() { open_ = false; }

  void on_exit_element() {
    if (!shape_ || failed_ || parentFailed_ || disabled_) return;
    RawShape shape{name_, {}, std::string(LocalName(node_)), reader_->LineOf(node_->name())};
    for (Subpath& subpath : subpaths_) {
      Subpath t{matrix_(subpath.start), {}, subpath.closed};
      t.primitives.reserve(subpath.primitives.size());
      for (const Primitive& primitive : subpath.primitives) t.primitives.push_back(Transformed(primitive, matrix_));
      if (!IsFinite(t)) {
        Fail("a coordinate is not finite (after transforms)");
        return;
      }
      shape.subpaths.push_back(std::move(t));
    }
    if (!shape.subpaths.empty()) reader_->shapes.push_back(std::move(shape));
  }

 private:
  void Add(const Primitive& primitive) {
    if (!open_) subpaths_.push_back(Subpath{current_, {}, false});  // drawing on after a close
    open_ = true;
    subpaths_.back().primitives.push_back(primitive);
    current_ = primitive.End();
  }

  Reader* reader_;
  const XmlNode* node_;
  bool root_ = false;
  bool shape_ = false;
  std::string name_;
  Affine matrix_;
  mutable bool failed_ = false;
  bool parentFailed_ = false;
  bool disabled_ = false;
  std::vector<Subpath> subpaths_;
  bool open_ = false;
  Vec2 current_ = {0, 0};
};

template <class ElementTag>
class ChildContextFactory {
 public:
  using type = Context;
  template <class XMLElement>
  ChildContextFactory(Context& parent, const XMLElement& node) : context_(parent, node, kIsShape<ElementTag>) {}
  ChildContextFactory(const ChildContextFactory&) = delete;
  ChildContextFactory& operator=(const ChildContextFactory&) = delete;
  Context& get() { return context_; }
  void on_exit_element() { context_.on_exit_element(); }

 private:
  Context context_;
};

struct ContextFactories {
  template <class ParentContext, class ElementTag>
  struct apply {
    using type = ChildContextFactory<ElementTag>;
  };
};

template <class Range>
std::string Excerpt(const Range& range) {
  std::string s(boost::begin(range), boost::end(range));
  if (s.size() > 60) s = s.substr(0, 57) + "...";
  return s;
}

// Bad values skip their element with a warning instead of aborting the file; what we don't read
// (unknown elements and attributes, other namespaces) is ignored quietly.
struct ErrorPolicy {
  using context_type = Context;
  template <class C, class... A>
  static bool unknown_element(const C&, const A&...) { return true; }
  template <class C, class... A>
  static bool unexpected_element(const C&, const A&...) { return true; }
  template <class C, class... A>
  static bool unknown_attribute(const C&, const A&...) { return true; }
  template <class C, class... A>
  static bool unexpected_attribute(const C&, const A&...) { return true; }
  template <class AttributeTag>
  static bool required_attribute_not_found(const Context& context, AttributeTag) {
    context.Fail(std::string("missing attribute \"") + svgpp::attribute_name<char>::get<AttributeTag>() + "\"");
    return true;
  }
  template <class AttributeTag, class Value>
  static bool parse_failed(const Context& context, AttributeTag, const Value& value) {
    context.Fail(std::string("invalid value of \"") + svgpp::attribute_name<char>::get<AttributeTag>() + "\": \"" +
                 Excerpt(value) + "\"");
    return true;
  }
  template <class AttributeTag>
  static bool negative_value(const Context& context, AttributeTag) {
    context.Fail(std::string("negative \"") + svgpp::attribute_name<char>::get<AttributeTag>() + "\"");
    return true;
  }
  using intercepted_exception_type = svgpp::detail::dummy_exception;
  template <class XMLElement>
  static bool add_element_info(intercepted_exception_type&, const XMLElement&) { return true; }
};

using ProcessedElements =
    boost::mpl::set<svgpp::tag::element::svg, svgpp::tag::element::g, svgpp::tag::element::a,
                    svgpp::tag::element::switch_, svgpp::tag::element::path, svgpp::tag::element::rect,
                    svgpp::tag::element::circle, svgpp::tag::element::ellipse, svgpp::tag::element::line,
                    svgpp::tag::element::polyline, svgpp::tag::element::polygon>::type;

using ProcessedAttributes = boost::mpl::fold<
    boost::mpl::vector<svgpp::tag::attribute::transform,
                       boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::x>,
                       boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::y>,
                       boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::width>,
                       boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::height>,
                       boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::viewBox>,
                       boost::mpl::pair<svgpp::tag::element::svg, svgpp::tag::attribute::preserveAspectRatio>>,
    svgpp::traits::shapes_attributes_by_element, boost::mpl::insert<boost::mpl::_1, boost::mpl::_2>>::type;

// Defaults kept: basic shapes become paths, transforms arrive as one matrix. no_shorthands hands
// us absolute coordinates and arcs as arcs (SVG++ converts none of them to Béziers).
using Traversal = svgpp::document_traversal<
    svgpp::processed_elements<ProcessedElements>, svgpp::processed_attributes<ProcessedAttributes>,
    svgpp::context_factories<ContextFactories>, svgpp::path_policy<svgpp::policy::path::no_shorthands>,
    svgpp::viewport_policy<svgpp::policy::viewport::calculate>,
    svgpp::length_policy<svgpp::policy::length::forward_to_method<Context>>, svgpp::error_policy<ErrorPolicy>>;

// Rejects element nesting deeper than the recursive parsers can safely take, before they run.
// Mirrors rapidxml's lexing closely enough: comments, CDATA, processing instructions, DOCTYPE
// (with its bracketed subset) and quoted attribute values are skipped.
void CheckNesting(const std::string& text, const Reader& reader) {
  int depth = 0;
  const std::size_t n = text.size();
  for (std::size_t i = text.find('<'); i < n; i = text.find('<', i)) {
    const auto startsWith = [&](const char* s) { return text.compare(i, std::strlen(s), s) == 0; };
    const auto skipPast = [&](const char* end) {
      const std::size_t at = text.find(end, i);
      return at == std::string::npos ? n : at + std::strlen(end);
    };
    if (startsWith("<!--")) {
      i = skipPast("-->");
    } else if (startsWith("<![CDATA[")) {
      i = skipPast("]]>");
    } else if (startsWith("<?")) {
      i = skipPast("?>");
    } else if (startsWith("<!DOCTYPE") && i + 9 < n && std::strchr(" \t\r\n", text[i + 9]) && text[i + 9]) {
      // Ends at the first '>' outside its bracketed internal subset.
      for (i += 9; i < n && text[i] != '>'; ++i) {
        if (text[i] != '[') continue;
        for (int brackets = 1; brackets > 0 && ++i < n;) brackets += text[i] == '[' ? 1 : text[i] == ']' ? -1 : 0;
      }
    } else if (startsWith("<!")) {
      i = skipPast(">");  // other "<!" markup: rapidxml skips to the next '>'
    } else if (startsWith("</")) {
      --depth;
      i = skipPast(">");
    } else {
      const std::size_t start = i;
      char quote = 0;
      for (++i; i < n; ++i) {
        const char c = text[i];
        if (quote) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          break;
        }
      }
      if (i < n && text[i - 1] != '/' && ++depth > kMaxNesting)
        throw ReadError(reader.file, LineAt(text.data(), text.data() + start),
                        "elements nested more than " + std::to_string(kMaxNesting) + " deep");
    }
  }
}

// Hand-written SVG often omits xmlns; SVG++ only looks at elements in the SVG namespace.
void AdoptUnqualifiedElements(XmlNode* root) {
  static constexpr std::size_t kLength = sizeof kSvgNamespace - 1;
  XmlNode* node = root;
  while (node) {
    if (node->type() == rapidxml_ns::node_element && node->prefix_size() == 0 && node->namespace_uri_size() == 0)
      node->namespace_uri(kSvgNamespace, kLength);
    if (XmlNode* child = node->first_node()) {
      node = child;
      continue;
    }
    while (node && node != root && !node->next_sibling()) node = node->parent();
    node = (node && node != root) ? node->next_sibling() : nullptr;
  }
}


// A plain number or px length, for percentages when there is no viewBox.
bool ParsePlainLength(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || !std::isfinite(value) || value <= 0) return false;
  const std::string rest = end;
  return rest.empty() || rest == "px";
}

bool Near(Vec2 a, Vec2 b, double eps) { return std::fabs(a.x - b.x) <= eps && std::fabs(a.y - b.y) <= eps; }

}  // namespace

Document ReadSvg(std::string text, const std::string& file, const ReadOptions& options) {
  Reader reader;
  reader.file = file;
  CheckNesting(text, reader);
  reader.original = text;
  text.push_back('\0');
  reader.buffer = text.data();

  auto xml = std::make_unique<rapidxml_ns::xml_document<char>>();  // 64 KiB pool: not on the stack
  try {
    xml->parse<rapidxml_ns::parse_default>(text.data());
  } catch (const rapidxml_ns::parse_error& e) {
    throw ReadError(file, reader.LineOf(e.where<char>()), std::string("malformed XML: ") + e.what());
  }
  XmlNode* root = xml->first_node();
  while (root && root->type() != rapidxml_ns::node_element) root = root->next_sibling();
  if (!root) throw ReadError(file, 0, "no XML element");
  if (LocalName(root) != "svg")
    throw ReadError(file, reader.LineOf(root->name()), "the root element is <" + std::string(LocalName(root)) + ">, not <svg>");
  AdoptUnqualifiedElements(root);

  Document doc;
  bool found = false;
  if (std::string v = AttributeValue(root, "width", &found); found) doc.svgWidth = v;
  if (std::string v = AttributeValue(root, "height", &found); found) doc.svgHeight = v;
  if (std::string v = AttributeValue(root, "viewBox", &found); found) doc.svgViewBox = v;
  double viewBox[4] = {0, 0, 0, 0};
  const bool hasViewBox = doc.svgViewBox && detail::ParseViewBox(*doc.svgViewBox, viewBox);
  double width = 0, height = 0;
  if (hasViewBox) {
    reader.lengths.set_viewport_size(viewBox[2], viewBox[3]);
  } else if (doc.svgWidth && doc.svgHeight && ParsePlainLength(*doc.svgWidth, width) &&
             ParsePlainLength(*doc.svgHeight, height)) {
    reader.lengths.set_viewport_size(width, height);
  }

  try {
    Context context(reader, root);
    Traversal::load_document(static_cast<const XmlNode*>(root), context);
  } catch (const ReadError&) {
    throw;
  } catch (const std::exception& e) {
    throw ReadError(file, 0, std::string("cannot read the SVG: ") + e.what());
  }

  // Tolerance relative to the drawing: its viewBox, else the box around every control point.
  Vec2 lo{HUGE_VAL, HUGE_VAL}, hi{-HUGE_VAL, -HUGE_VAL};
  for (const RawShape& shape : reader.shapes)
    for (const Subpath& subpath : shape.subpaths) GrowBounds(subpath, lo, hi);
  double size = hasViewBox ? std::hypot(viewBox[2], viewBox[3]) : (lo.x <= hi.x ? std::hypot(hi.x - lo.x, hi.y - lo.y) : 0);
  if (!std::isfinite(size)) size = std::numeric_limits<double>::max();
  double tolerance = options.tolerance > 0 && std::isfinite(options.tolerance) ? options.tolerance : size * 1e-4;
  if (!(tolerance > 0)) tolerance = 1e-4;  // a drawing of a single point: nothing to flatten anyway

  std::size_t total = 0;
  std::vector<Vec2> points;
  for (RawShape& shape : reader.shapes) {
    LineObject object;
    object.name = std::move(shape.name);
    bool finite = true;
    for (const Subpath& subpath : shape.subpaths) {
      points.clear();
      Flatten(subpath, tolerance, points);
      // An ellipse can reach past the largest double even when its centre and axes do not.
      finite = std::all_of(points.begin(), points.end(), [](Vec2 p) { return std::isfinite(p.x) && std::isfinite(p.y); });
      if (!finite) break;
      // Rounding (relative moves, transforms) can leave a point a hair off the one it repeats.
      const double eps = 1e-9 * (std::fabs(subpath.start.x) + std::fabs(subpath.start.y) + size);
      std::vector<Point> segment;
      segment.reserve(points.size());
      for (const Vec2& p : points)
        if (segment.empty() || !Near({segment.back().x, segment.back().y}, p, eps)) segment.push_back({p.x, p.y, 0});
      // A closed loop ends on its last distinct point: the closing edge is implied.
      if (subpath.closed && segment.size() > 1 && Near({segment.back().x, segment.back().y}, {segment.front().x, segment.front().y}, eps))
        segment.pop_back();
      if (segment.size() < 2) continue;  // a lone move-to draws nothing
      total += segment.size();
      if (total > kMaxPoints)
        throw ReadError(file, 0, "the curves flatten to more than " + std::to_string(kMaxPoints) +
                                     " points; use a larger tolerance");
      object.segments.push_back(std::move(segment));
    }
    if (!finite) {
      reader.Warn(shape.line, "skipped <" + shape.tag + " " + object.name + ">: a point is not finite once flattened");
      continue;
    }
    if (!object.segments.empty()) doc.objects.push_back(std::move(object));
  }
  doc.warnings = std::move(reader.warnings);
  if (doc.objects.empty()) {
    std::string message = "no shapes to dash (path, polyline, polygon, line, rect, circle, ellipse)";
    if (!doc.warnings.empty())
      message += "; " + std::to_string(doc.warnings.size()) + " skipped, the first: " + doc.warnings.front();
    throw ReadError(file, 0, message);
  }
  doc.drawingSize = hasViewBox ? size : DrawingSize(doc);
  return doc;
}

}  // namespace korrand::io::detail
