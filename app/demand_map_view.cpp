#include "app/demand_map_view.h"

#include "app/run_pictures.h"

#include <QGraphicsSvgItem>
#include <QMouseEvent>
#include <QSvgRenderer>
#include <QWheelEvent>
#include <cmath>

namespace zelkor::app {

namespace {
constexpr double kMinScale = 0.05;
constexpr double kMaxScale = 20;
} // namespace

DemandMapView::DemandMapView(QWidget* parent) : QGraphicsView(parent), m_renderer(new QSvgRenderer(this)) {
    setScene(new QGraphicsScene(this));
    setDragMode(QGraphicsView::ScrollHandDrag);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    setBackgroundBrush(Qt::white);
}

void DemandMapView::showMap(const QByteArray& svg, DemandMapLayout layout) {
    clear();
    m_layout = std::move(layout);
    m_renderer->load(svg);
    m_item = new QGraphicsSvgItem;
    m_item->setSharedRenderer(m_renderer);
    scene()->addItem(m_item);
    scene()->setSceneRect(m_item->boundingRect());
    fit();
}

void DemandMapView::clear() {
    scene()->clear(); // deletes the item
    m_item = nullptr;
    m_layout = {};
}

void DemandMapView::zoomBy(double factor) {
    m_zoomed = true;
    const double now = transform().m11();
    factor = std::clamp(now * factor, kMinScale, kMaxScale) / now;
    scale(factor, factor);
}

void DemandMapView::fit() {
    m_zoomed = false;
    if (m_item) fitInView(m_item, Qt::KeepAspectRatio);
}

void DemandMapView::resizeEvent(QResizeEvent* event) {
    QGraphicsView::resizeEvent(event);
    if (!m_zoomed) fit();
}

QPoint DemandMapView::viewPoint(double x, double y) const {
    return mapFromScene(QPointF(x, y));
}

void DemandMapView::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0) zoomBy(std::pow(1.2, steps));
    event->accept();
}

void DemandMapView::mousePressEvent(QMouseEvent* event) {
    m_pressedAt = event->position().toPoint();
    QGraphicsView::mousePressEvent(event);
}

void DemandMapView::mouseReleaseEvent(QMouseEvent* event) {
    QGraphicsView::mouseReleaseEvent(event);
    // A press that moved is a pan, not a choice.
    if (event->button() != Qt::LeftButton || (event->position().toPoint() - m_pressedAt).manhattanLength() > 4) return;
    const QPointF at = mapToScene(event->position().toPoint());
    if (const auto label = labelAt(m_layout, at.x(), at.y())) emit labelClicked(*label);
}

} // namespace zelkor::app
