#include "window/dialog_style.h"

#include <QApplication>
#include <QProxyStyle>

namespace koru {
namespace {

constexpr int kIndicatorSize = 13;  // check box and radio indicators
constexpr int kLabelSpacing = 3;    // between an indicator and its caption

class WindowDialogStyle final : public QProxyStyle {
  public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        switch (metric) {
            case PM_IndicatorWidth:
            case PM_IndicatorHeight:
            case PM_ExclusiveIndicatorWidth:
            case PM_ExclusiveIndicatorHeight:
                return kIndicatorSize;
            case PM_CheckBoxLabelSpacing:
            case PM_RadioButtonLabelSpacing:
                return kLabelSpacing;
            default:
                return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }
};

}  // namespace

QStyle* DialogStyle() {
    static QStyle* style = [] {
        auto* created = new WindowDialogStyle;
        created->setParent(qApp);
        return created;
    }();
    return style;
}

}  // namespace koru
