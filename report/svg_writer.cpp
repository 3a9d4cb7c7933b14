#include "report/svg_writer.h"

#include <cstdio>

#include "report/html_text.h"

namespace koru {
namespace {

// A coordinate with one decimal: enough for the screen, short in a page of thousands of bars.
std::string Number(double value) {
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%.1f", value);
    std::string out(text, static_cast<std::size_t>(n));
    if (out.size() > 2 && out.compare(out.size() - 2, 2, ".0") == 0) {
        out.resize(out.size() - 2);
    }
    return out == "-0" ? "0" : out;
}

std::string Box(double x, double y, double width, double height) {
    return "x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" width=\"" + Number(width) +
           "\" height=\"" + Number(height) + "\"";
}

}  // namespace

SvgWriter::SvgWriter(std::string_view chart, int width, int height, std::string_view label) {
    out_ = "<svg xmlns=\"http://www.w3.org/2000/svg\" data-chart=\"" + HtmlEscape(chart) +
           "\" viewBox=\"0 0 " + std::to_string(width) + " " + std::to_string(height) +
           "\" width=\"" + std::to_string(width) + "\" role=\"img\" aria-label=\"" +
           HtmlEscape(label) + "\">\n";
}

void SvgWriter::Bar(double x, double y, double width, double height, const char* fill,
                    std::string_view tooltip) {
    out_ += "<rect class=\"bar\" " + Box(x, y, width, height) + " fill=\"" + fill + "\"><title>" +
            HtmlEscape(tooltip) + "</title></rect>\n";
}

void SvgWriter::BeginStack(std::string_view tooltip) {
    out_ += "<g class=\"bar\"><title>" + HtmlEscape(tooltip) + "</title>";
}

void SvgWriter::Segment(double x, double y, double width, double height, const char* fill) {
    out_ += "<rect " + Box(x, y, width, height) + " fill=\"" + fill + "\"/>";
}

void SvgWriter::EndStack() {
    out_ += "</g>\n";
}

void SvgWriter::Rect(double x, double y, double width, double height, const char* fill) {
    out_ += "<rect " + Box(x, y, width, height) + " fill=\"" + fill + "\"/>\n";
}

void SvgWriter::Line(double x1, double y1, double x2, double y2, const char* cssClass) {
    out_ += "<line class=\"" + std::string(cssClass) + "\" x1=\"" + Number(x1) + "\" y1=\"" +
            Number(y1) + "\" x2=\"" + Number(x2) + "\" y2=\"" + Number(y2) + "\"/>\n";
}

void SvgWriter::Polyline(const std::vector<std::pair<double, double>>& points,
                         const char* cssClass) {
    out_ += "<polyline class=\"" + std::string(cssClass) + "\" points=\"";
    for (std::size_t i = 0; i < points.size(); ++i) {
        out_ += (i == 0 ? "" : " ") + Number(points[i].first) + "," + Number(points[i].second);
    }
    out_ += "\"/>\n";
}

void SvgWriter::Circle(double x, double y, double radius, const char* cssClass,
                       std::string_view tooltip) {
    out_ += "<circle class=\"" + std::string(cssClass) + "\" cx=\"" + Number(x) + "\" cy=\"" +
            Number(y) + "\" r=\"" + Number(radius) + "\"><title>" + HtmlEscape(tooltip) +
            "</title></circle>\n";
}

void SvgWriter::Text(double x, double y, std::string_view text, Anchor anchor,
                     const char* cssClass) {
    static constexpr const char* kAnchors[] = {"start", "middle", "end"};
    out_ += "<text x=\"" + Number(x) + "\" y=\"" + Number(y) + "\"";
    if (anchor != Anchor::Start) {
        out_ += std::string(" text-anchor=\"") + kAnchors[static_cast<int>(anchor)] + "\"";
    }
    if (cssClass != nullptr) {
        out_ += std::string(" class=\"") + cssClass + "\"";
    }
    out_ += ">" + HtmlEscape(text) + "</text>\n";
}

std::string SvgWriter::Finish() {
    out_ += "</svg>\n";
    return std::move(out_);
}

}  // namespace koru
