// SVG writing: the dashes of each object as one stroked, unfilled path (one subpath per dash) in a
// <g> named after the object; with a preview, the original curves first, faint and thin, beneath.
// z is dropped (the drawing is the XY plane). The input's width/height/viewBox are kept; without
// them a viewBox is fitted around the drawing with a margin, y as is (SVG's y points down).
#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <optional>
#include <ostream>

#include "format_detail.h"

namespace korrand::io::detail {
namespace {

constexpr const char* kPalette[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                                    "#ff7f0e", "#17becf", "#8c564b", "#e377c2"};

std::string Escape(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (const char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\n': case '\r': case '\t': out += ' '; break;
      default:
        // Other control characters are not allowed in XML 1.0 at all.
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
  }
  return out;
}

std::string Number(double v) {
  std::string s;
  AppendDouble(s, v);
  return s;
}

struct Box {
  double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL;
  bool Empty() const { return x0 > x1; }
  void Grow(const Document& doc) {
    for (const LineObject& object : doc.objects)
      for (const auto& segment : object.segments)
        for (const Point& p : segment)
          if (std::isfinite(p.x) && std::isfinite(p.y)) {
            x0 = std::min(x0, p.x);
            y0 = std::min(y0, p.y);
            x1 = std::max(x1, p.x);
            y1 = std::max(y1, p.y);
          }
  }
};

bool ParseViewBoxSize(const std::string& text, double& diagonal) {
  double v[4];
  if (!detail::ParseViewBox(text, v)) return false;
  diagonal = std::hypot(v[2], v[3]);
  return std::isfinite(diagonal);
}

// Path data for the segments: "M x y L x y x y ..." per segment, a new line per segment.
void AppendPathData(OutBuffer& buffer, const LineObject& object, bool closed) {
  std::string& out = buffer.text();
  for (const auto& segment : object.segments) {
    bool pen = false;  // a non-finite point lifts the pen
    std::size_t drawn = 0;
    for (const Point& p : segment) {
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
        pen = false;
        continue;
      }
      out += pen ? (drawn == 1 ? " L" : " ") : "\nM";
      AppendDouble(out, p.x);
      out += ' ';
      AppendDouble(out, p.y);
      drawn = pen ? drawn + 1 : 1;
      pen = true;
      buffer.MaybeFlush();
    }
    if (!pen) continue;
    if (closed && segment.size() > 1) {
      out += " Z";
    } else if (drawn == 1) {
      // A lone point: a zero-length line, which round caps draw as a dot.
      const Point& p = segment.back();
      out += " L";
      AppendDouble(out, p.x);
      out += ' ';
      AppendDouble(out, p.y);
    }
  }
}

void AppendGroupStart(std::string& out, const std::string& id, const char* stroke, double width) {
  out += "<g id=\"" + Escape(id) + "\" fill=\"none\" stroke=\"" + stroke + "\" stroke-width=\"" + Number(width) +
         "\" stroke-linecap=\"round\" stroke-linejoin=\"round\">\n";
}

}  // namespace

void WriteSvg(std::ostream& out, const Document& doc, const WriteOptions& options) {
  const Document* original = options.preview ? options.original : nullptr;
  // Size attributes: the dashed document's, else the original's (a host may carry either).
  const bool own = doc.svgWidth || doc.svgHeight || doc.svgViewBox;
  const Document& sizes = own || !options.original ? doc : *options.original;
  std::optional<std::string> width = sizes.svgWidth, height = sizes.svgHeight, viewBox = sizes.svgViewBox;

  Box box;
  box.Grow(doc);
  if (original) box.Grow(*original);
  double size = 0;
  if (!(viewBox && ParseViewBoxSize(*viewBox, size))) {
    size = box.Empty() ? 0 : std::hypot(box.x1 - box.x0, box.y1 - box.y0);
    if (!std::isfinite(size)) size = std::numeric_limits<double>::max() / 4;
  }
  if (!(size > 0)) size = 1;
  const double stroke = size * 0.004;

  if (!viewBox) {
    const double margin = 0.05 * size + stroke;
    const double x0 = box.Empty() ? 0 : box.x0 - margin, y0 = box.Empty() ? 0 : box.y0 - margin;
    const double w = box.Empty() ? 1 : box.x1 - box.x0 + 2 * margin;
    const double h = box.Empty() ? 1 : box.y1 - box.y0 + 2 * margin;
    viewBox = Number(x0) + " " + Number(y0) + " " + Number(w) + " " + Number(h);
    if (!width && !height) {
      // No size given anywhere: a picture about 800 px on its longer side.
      const double scale = 800 / std::max(w, h);
      width = Number(std::round(w * scale));
      height = Number(std::max(1.0, std::round(h * scale)));
    }
  }

  OutBuffer buffer(out);
  std::string& text = buffer.text();
  text += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\"";
  if (width) text += " width=\"" + Escape(*width) + "\"";
  if (height) text += " height=\"" + Escape(*height) + "\"";
  text += " viewBox=\"" + Escape(*viewBox) + "\">\n";

  if (original) {
    AppendGroupStart(text, "original curves", "#c8c8c8", stroke * 0.6);
    for (const LineObject& object : original->objects) {
      text += "<path d=\"";
      AppendPathData(buffer, object, options.originalClosed);
      text += "\"/>\n";
    }
    text += "</g>\n";
  }
  for (std::size_t i = 0; i < doc.objects.size(); ++i) {
    const LineObject& object = doc.objects[i];
    const std::string id = object.name.empty() ? "object " + std::to_string(i + 1) : object.name;
    AppendGroupStart(text, id, kPalette[i % std::size(kPalette)], stroke);
    text += "<path d=\"";
    AppendPathData(buffer, object, false);
    text += "\"/>\n</g>\n";
  }
  text += "</svg>\n";
  buffer.Flush();
}

}  // namespace korrand::io::detail
