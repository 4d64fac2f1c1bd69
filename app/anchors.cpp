#include "app/anchors.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <vector>

namespace tarvik {

namespace {

struct Anchored {
    QPointer<QWidget> widget;
    Qt::Edges edges;
    QRect design;
    QSize designParent;
};

// One per parent, a child of it; applies the anchors on every resize.
class AnchorKeeper : public QObject {
  public:
    explicit AnchorKeeper(QWidget* parent) : QObject(parent) {
        setObjectName(QStringLiteral("AnchorKeeper"));
        parent->installEventFilter(this);
    }

    void Add(const Anchored& anchored) {
        anchored_.push_back(anchored);
        Apply(anchored, static_cast<QWidget*>(parent())->size());
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent() && event->type() == QEvent::Resize) {
            const QSize size = static_cast<QWidget*>(watched)->size();
            for (const auto& anchored : anchored_) Apply(anchored, size);
        }
        return false;
    }

  private:
    static void Apply(const Anchored& a, QSize parent) {
        if (!a.widget)
            return;
        const int right = a.designParent.width() - a.design.right() - 1;
        const int bottom = a.designParent.height() - a.design.bottom() - 1;
        int x = a.design.x();
        int width = a.design.width();
        if (a.edges & Qt::RightEdge) {
            if (a.edges & Qt::LeftEdge) {
                width = std::max(0, parent.width() - right - x);
            } else {
                x = parent.width() - right - width;
            }
        }
        int y = a.design.y();
        int height = a.design.height();
        if (a.edges & Qt::BottomEdge) {
            if (a.edges & Qt::TopEdge) {
                height = std::max(0, parent.height() - bottom - y);
            } else {
                y = parent.height() - bottom - height;
            }
        }
        a.widget->setGeometry(x, y, width, height);
    }

    std::vector<Anchored> anchored_;
};

}  // namespace

void Anchor(QWidget* widget, Qt::Edges edges, QSize designParentSize) {
    QWidget* parent = widget->parentWidget();
    auto* keeper = parent->findChild<AnchorKeeper*>(QStringLiteral("AnchorKeeper"),
                                                    Qt::FindDirectChildrenOnly);
    if (keeper == nullptr)
        keeper = new AnchorKeeper(parent);
    keeper->Add({widget, edges, widget->geometry(), designParentSize});
}

}  // namespace tarvik
