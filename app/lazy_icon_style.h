// The application's style: the platform's own style, except that a standard
// icon is read only when it is first drawn or measured. The style decodes
// every size of an icon's pictures at once, which at start-up is wasted on
// the menu items, the tool buttons and the menu bar's overflow button that
// are not yet (or never) shown.
#pragma once

#include <QProxyStyle>

class LazyIconStyle : public QProxyStyle {
    Q_OBJECT
  public:
    explicit LazyIconStyle(const QString& baseStyleName);

    QIcon standardIcon(StandardPixmap which, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;

    // Makes the application's style a LazyIconStyle over the current one,
    // once; later calls change nothing. Call it before the first widget.
    static void install();
};
