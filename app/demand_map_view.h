#pragma once
// One demand map in the window 分析: the SVG the report inlines, shown by Qt's SVG module, zoomed
// with the wheel (or zoomBy) and panned by dragging; until zoomed it fits the view. A click that is
// not a drag names the label under it. Window thread only.

#include "analysis/demand_map.h"

#include <QGraphicsView>
#include <QPoint>

class QGraphicsSvgItem;
class QSvgRenderer;

namespace zelkor::app {

class DemandMapView : public QGraphicsView {
    Q_OBJECT
  public:
    explicit DemandMapView(QWidget* parent = nullptr);

    // Shows `svg`, drawn from `layout`, fitted to the view.
    void showMap(const QByteArray& svg, DemandMapLayout layout);
    void clear();
    void zoomBy(double factor);
    void fit();
    // Where the picture's point (x, y) is in the view, for a click placed on a label.
    QPoint viewPoint(double x, double y) const;
    const DemandMapLayout& layout() const { return m_layout; }

  signals:
    void labelClicked(int label);

  protected:
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QSvgRenderer* m_renderer;
    QGraphicsSvgItem* m_item = nullptr;
    DemandMapLayout m_layout;
    QPoint m_pressedAt;
    bool m_zoomed = false; // by the user: a resize then keeps the scale
};

} // namespace zelkor::app
