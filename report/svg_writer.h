#pragma once

// An inline SVG chart written as text: bars that name their numbers when the pointer rests on
// them (an SVG <title>), lines and labels. Every text is escaped here, so no caller can let a
// record's text become markup.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace koru {

enum class Anchor { Start, Middle, End };

class SvgWriter {
  public:
    // chart: the name the page and its checks find the chart by (data-chart); label: what the
    // chart shows, for screen readers.
    SvgWriter(std::string_view chart, int width, int height, std::string_view label);

    // One bar (class "bar") with its numbers as tooltip. fill: a colour of the page's palette.
    void Bar(double x, double y, double width, double height, const char* fill,
             std::string_view tooltip);
    // A stacked bar: one group (class "bar") with one tooltip, made of segments.
    void BeginStack(std::string_view tooltip);
    void Segment(double x, double y, double width, double height, const char* fill);
    void EndStack();

    void Rect(double x, double y, double width, double height, const char* fill);
    // cssClass: "axis", "grid", "mark" or "cumulative" (the page's style sheet draws them).
    void Line(double x1, double y1, double x2, double y2, const char* cssClass);
    void Polyline(const std::vector<std::pair<double, double>>& points, const char* cssClass);
    void Circle(double x, double y, double radius, const char* cssClass, std::string_view tooltip);
    void Text(double x, double y, std::string_view text, Anchor anchor = Anchor::Start,
              const char* cssClass = nullptr);

    std::string Finish();

  private:
    std::string out_;
};

}  // namespace koru
