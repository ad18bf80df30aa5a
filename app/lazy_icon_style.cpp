#include "app/lazy_icon_style.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QPointer>

namespace {

// Stands for one standard icon of the base style until a picture is needed.
class LazyStandardIconEngine : public QIconEngine {
  public:
    LazyStandardIconEngine(QStyle* style, QStyle::StandardPixmap which)
        : style_(style), which_(which) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().actualSize(size, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        if (const QPixmap* small = smallPixmap(size, mode, state, 1.0)) {
            return *small;
        }
        return icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        if (const QPixmap* small = smallPixmap(size, mode, state, scale)) {
            return *small;
        }
        return icon().pixmap(size, scale, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return icon().availableSizes(mode, state);
    }
    // A standard icon always has a picture; answering this must not read it.
    bool isNull() override { return false; }
    QString key() const override { return QStringLiteral("LazyStandardIconEngine"); }
    QIconEngine* clone() const override { return new LazyStandardIconEngine(*this); }

  private:
    QStyle* style() const { return style_ != nullptr ? style_.data() : QApplication::style(); }

    // A button drawn at start wants the plain 16-pixel picture only; the
    // style hands out that one picture without decoding the icon's others.
    const QPixmap* smallPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                               qreal scale) {
        if (loaded_ || mode != QIcon::Normal || state != QIcon::Off || scale != 1.0 ||
            size != QSize(16, 16)) {
            return nullptr;
        }
        if (!smallTried_) {
            smallTried_ = true;
            small_ = style()->standardPixmap(which_, nullptr, nullptr);
        }
        return small_.size() == size ? &small_ : nullptr;
    }

    const QIcon& icon() {
        if (!loaded_) {
            icon_ = style()->standardIcon(which_);
            loaded_ = true;
        }
        return icon_;
    }

    QPointer<QStyle> style_;
    QStyle::StandardPixmap which_;
    QIcon icon_;
    bool loaded_ = false;
    QPixmap small_;
    bool smallTried_ = false;
};

} // namespace

LazyIconStyle::LazyIconStyle(const QString& baseStyleName) : QProxyStyle(baseStyleName) {}

QIcon LazyIconStyle::standardIcon(StandardPixmap which, const QStyleOption*, const QWidget*) const {
    // The engine asks the base style itself, never this one.
    return QIcon(new LazyStandardIconEngine(baseStyle(), which));
}

void LazyIconStyle::install() {
    if (qobject_cast<LazyIconStyle*>(QApplication::style()) == nullptr) {
        QApplication::setStyle(new LazyIconStyle(QApplication::style()->name()));
    }
}
