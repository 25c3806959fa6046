#include "dashboard/chart_render.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

namespace tk {
namespace {

constexpr double kMargin = 12.0;
const QColor kInk(0x20, 0x20, 0x20);
const QColor kGrid(0xdd, 0xdd, 0xdd);
const QColor kMarker(0xc0, 0x30, 0x30);
// Distinct line colours, dark enough to read on white.
const QColor kLineColours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28),
                               QColor(0x2c, 0xa0, 0x2c), QColor(0x94, 0x67, 0xbd),
                               QColor(0xff, 0x7f, 0x0e), QColor(0x8c, 0x56, 0x4b)};

QFont chartFont(double pixelSize, bool bold = false) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(std::max(8, static_cast<int>(pixelSize)));
  font.setBold(bold);
  return font;
}

// Paints through fn on a white PNG image or into an SVG document of the size.
QByteArray paintInto(QSize size, ImageFormat format, const QString& title,
                     const std::function<void(QPainter&)>& fn) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (format == ImageFormat::Svg) {
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    generator.setTitle(title);
    QPainter painter(&generator);
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    fn(painter);
    painter.end();
    return bytes;
  }
  QImage image(size, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    fn(painter);
  }
  // Light compression: a few percent larger than the default level and several times faster.
  image.save(&buffer, "PNG", 80);
  return bytes;
}

QString tickText(double value, double step) {
  // Enough decimals to tell neighbouring ticks apart, no more.
  const int decimals =
      step >= 1.0 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(step))));
  return QString::number(value, 'f', decimals);
}

struct Range {
  double low = std::numeric_limits<double>::infinity();
  double high = -std::numeric_limits<double>::infinity();

  void add(double v) {
    if (std::isfinite(v)) {
      low = std::min(low, v);
      high = std::max(high, v);
    }
  }
  // A flat or empty range is widened so that its line sits in the middle of a panel.
  void settle() {
    if (!(low <= high)) {
      low = 0.0;
      high = 1.0;
    } else if (low == high) {
      low -= 1.0;
      high += 1.0;
    }
  }
};

// The polyline of one channel in panel coordinates, at most four points per pixel column.
QPolygonF channelLine(const std::vector<double>& times, const std::vector<double>& values,
                      const QRectF& plot, Range xRange, Range yRange) {
  QPolygonF line;
  const double xScale = plot.width() / (xRange.high - xRange.low);
  const double yScale = plot.height() / (yRange.high - yRange.low);
  auto point = [&](std::size_t i) {
    return QPointF(plot.left() + (times[i] - xRange.low) * xScale,
                   plot.bottom() - (values[i] - yRange.low) * yScale);
  };
  std::size_t i = 0;
  const std::size_t n = std::min(times.size(), values.size());
  while (i < n) {
    const double column = std::floor((times[i] - xRange.low) * xScale);
    std::size_t lowest = i;
    std::size_t highest = i;
    std::size_t j = i;
    for (; j < n && std::floor((times[j] - xRange.low) * xScale) == column; ++j) {
      lowest = values[j] < values[lowest] ? j : lowest;
      highest = values[j] > values[highest] ? j : highest;
    }
    std::size_t picks[] = {i, std::min(lowest, highest), std::max(lowest, highest), j - 1};
    for (std::size_t k = 0; k < 4; ++k) {
      if (k == 0 || picks[k] != picks[k - 1]) {
        line.append(point(picks[k]));
      }
    }
    i = j;
  }
  return line;
}

void drawTimeChart(QPainter& painter, const TimeChart& chart, QSize size) {
  const QFont label = chartFont(size.height() / 50.0 + 4);
  const QFont heading = chartFont(size.height() / 40.0 + 5, true);
  const QFontMetricsF metrics(label);
  const double lineHeight = metrics.height();
  const double titleHeight = QFontMetricsF(heading).height() + kMargin;

  painter.setPen(kInk);
  painter.setFont(heading);
  painter.drawText(QRectF(kMargin, kMargin / 2, size.width() - 2 * kMargin, titleHeight),
                   Qt::AlignLeft | Qt::AlignVCenter, chart.title);

  Range xRange;
  for (double t : chart.times) {
    xRange.add(t);
  }
  xRange.settle();
  const double left = metrics.horizontalAdvance(QStringLiteral("-000000.0")) + kMargin;
  const double right = size.width() - kMargin * 2;
  const double top = titleHeight + kMargin;
  const double bottom = size.height() - lineHeight * 2 - kMargin;
  const auto panels = static_cast<double>(std::max<std::size_t>(1, chart.series.size()));
  const double panelHeight = (bottom - top) / panels;
  const std::vector<double> xTicks = niceTicks(xRange.low, xRange.high, 8);
  const double xStep = xTicks.size() > 1 ? xTicks[1] - xTicks[0] : 1.0;

  painter.setFont(label);
  for (std::size_t s = 0; s < chart.series.size(); ++s) {
    const ChartSeries& series = chart.series[s];
    const QRectF plot(left, top + panelHeight * static_cast<double>(s) + lineHeight, right - left,
                      panelHeight - lineHeight * 1.5);
    Range yRange;
    for (double v : series.values) {
      yRange.add(v);
    }
    yRange.settle();
    const std::vector<double> yTicks = niceTicks(yRange.low, yRange.high, 4);
    const double yStep = yTicks.size() > 1 ? yTicks[1] - yTicks[0] : 1.0;
    for (double tick : yTicks) {
      const double y =
          plot.bottom() - (tick - yRange.low) * plot.height() / (yRange.high - yRange.low);
      painter.setPen(kGrid);
      painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
      painter.setPen(kInk);
      painter.drawText(QRectF(0, y - lineHeight / 2, left - kMargin / 2, lineHeight),
                       Qt::AlignRight | Qt::AlignVCenter, tickText(tick, yStep));
    }
    for (double tick : xTicks) {
      const double x =
          plot.left() + (tick - xRange.low) * plot.width() / (xRange.high - xRange.low);
      painter.setPen(kGrid);
      painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }
    const QColor colour = kLineColours[s % std::size(kLineColours)];
    painter.setPen(colour);
    const QString name = series.units.isEmpty()
                             ? series.name
                             : QStringLiteral("%1 (%2)").arg(series.name, series.units);
    painter.drawText(QRectF(plot.left(), plot.top() - lineHeight, plot.width(), lineHeight),
                     Qt::AlignLeft | Qt::AlignBottom, name);
    painter.save();
    painter.setClipRect(plot);
    painter.setPen(QPen(colour, 1.2));
    painter.drawPolyline(channelLine(chart.times, series.values, plot, xRange, yRange));
    painter.restore();
    painter.setPen(kInk);
    painter.drawRect(plot);
  }

  const double axisY = bottom + kMargin / 2;
  painter.setPen(kInk);
  for (double tick : xTicks) {
    const double x = left + (tick - xRange.low) * (right - left) / (xRange.high - xRange.low);
    painter.drawText(QRectF(x - 60, axisY - lineHeight / 2, 120, lineHeight), Qt::AlignCenter,
                     tickText(tick, xStep));
  }
  painter.drawText(QRectF(left, axisY + lineHeight / 2, right - left, lineHeight), Qt::AlignCenter,
                   QStringLiteral("Time (s)"));

  painter.setPen(QPen(kMarker, 1.0, Qt::DashLine));
  // Labels of markers close together go one below the other instead of over each other.
  double lastLabelX = -1e9;
  int stacked = 0;
  for (const ChartMarker& marker : chart.markers) {
    if (marker.time < xRange.low || marker.time > xRange.high) {
      continue;
    }
    const double x =
        left + (marker.time - xRange.low) * (right - left) / (xRange.high - xRange.low);
    stacked = x - lastLabelX < 160 ? stacked + 1 : 0;
    lastLabelX = stacked == 0 ? x : lastLabelX;
    painter.drawLine(QPointF(x, top), QPointF(x, bottom));
    const QString text = metrics.elidedText(marker.text, Qt::ElideRight, 150);
    const double labelX = std::min(x + 3, right - metrics.horizontalAdvance(text));
    painter.drawText(QPointF(labelX, top + lineHeight * (0.8 + stacked)), text);
  }
}

// Blue for the lowest value through green and yellow to red for the highest.
QColor heatColour(double fraction) {
  const double f = std::clamp(std::isfinite(fraction) ? fraction : 0.0, 0.0, 1.0);
  return QColor::fromHsvF(static_cast<float>((1.0 - f) * 240.0 / 360.0), 0.55f, 1.0f);
}

void drawHeatMap(QPainter& painter, const HeatMap& map, QSize size) {
  const QFont heading = chartFont(size.height() / 40.0 + 5, true);
  const double titleHeight = QFontMetricsF(heading).height() + kMargin;
  painter.setPen(kInk);
  painter.setFont(heading);
  const QString title =
      map.units.isEmpty() ? map.title : QStringLiteral("%1 (%2)").arg(map.title, map.units);
  painter.drawText(QRectF(kMargin, kMargin / 2, size.width() - 2 * kMargin, titleHeight),
                   Qt::AlignLeft | Qt::AlignVCenter, title);
  if (map.rows <= 0 || map.cols <= 0) {
    return;
  }

  // The cell text sets the font size: as large as fits the narrowest cell, within limits.
  const double gridWidthGuess = size.width() * 0.85;
  const double cellGuess = gridWidthGuess / map.cols;
  const double fontPixels = std::clamp(cellGuess / 4.0, 8.0, 16.0);
  const QFont cellFont = chartFont(fontPixels);
  const QFont axisFont = chartFont(fontPixels, true);
  const QFontMetricsF metrics(cellFont);
  const double lineHeight = metrics.height();

  const double left =
      kMargin + lineHeight * 1.5 + metrics.horizontalAdvance(QStringLiteral("00000.0"));
  const double top = titleHeight + kMargin;
  const double right = size.width() - kMargin;
  const double bottom = size.height() - kMargin - lineHeight * 3;
  const double cellWidth = (right - left) / map.cols;
  const double cellHeight = (bottom - top) / map.rows;

  Range zRange;
  for (double v : map.values) {
    zRange.add(v);
  }
  for (int r = 0; r < map.rows; ++r) {
    const double y = bottom - cellHeight * (r + 1);
    for (int c = 0; c < map.cols; ++c) {
      const std::size_t index = static_cast<std::size_t>(r) * map.cols + c;
      const double value = index < map.values.size() ? map.values[index] : 0.0;
      const QRectF cell(left + cellWidth * c, y, cellWidth, cellHeight);
      const double span = zRange.high - zRange.low;
      painter.fillRect(cell, heatColour(span > 0 ? (value - zRange.low) / span : 0.5));
      painter.setPen(kGrid);
      painter.drawRect(cell);
      painter.setPen(kInk);
      painter.setFont(cellFont);
      painter.drawText(cell, Qt::AlignCenter, QString::number(value, 'f', map.digits));
    }
  }

  painter.setFont(axisFont);
  painter.setPen(kInk);
  for (int r = 0; r < map.rows && r < static_cast<int>(map.yBins.size()); ++r) {
    const double y = bottom - cellHeight * (r + 1);
    painter.drawText(
        QRectF(kMargin + lineHeight * 1.5, y, left - kMargin * 2 - lineHeight, cellHeight),
        Qt::AlignRight | Qt::AlignVCenter, QString::number(map.yBins[r], 'f', map.yDigits));
  }
  for (int c = 0; c < map.cols && c < static_cast<int>(map.xBins.size()); ++c) {
    painter.drawText(QRectF(left + cellWidth * c, bottom + 2, cellWidth, lineHeight),
                     Qt::AlignCenter, QString::number(map.xBins[c], 'f', map.xDigits));
  }
  painter.drawText(QRectF(left, bottom + lineHeight * 1.5, right - left, lineHeight),
                   Qt::AlignCenter, map.xName);
  painter.save();
  painter.translate(kMargin, (top + bottom) / 2);
  painter.rotate(-90);
  painter.drawText(QRectF(-(bottom - top) / 2, 0, bottom - top, lineHeight), Qt::AlignCenter,
                   map.yName);
  painter.restore();
}

}  // namespace

std::optional<ImageFormat> imageFormatFor(const QString& path) {
  if (path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) {
    return ImageFormat::Png;
  }
  if (path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
    return ImageFormat::Svg;
  }
  return std::nullopt;
}

std::vector<double> niceTicks(double low, double high, int count) {
  if (!std::isfinite(low) || !std::isfinite(high) || !(high > low) || count < 1) {
    return {low, high};
  }
  const double rough = (high - low) / count;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = power * 10.0;
  for (double factor : {1.0, 2.0, 5.0}) {
    if (power * factor >= rough) {
      step = power * factor;
      break;
    }
  }
  std::vector<double> ticks;
  const double first = std::ceil(low / step) * step;
  for (int i = 0; first + step * i <= high + step * 1e-9; ++i) {
    const double tick = first + step * i;
    // Zero is written as such, not as a rounding residue such as -1e-17.
    ticks.push_back(std::abs(tick) < step * 1e-9 ? 0.0 : tick);
  }
  return ticks;
}

QByteArray renderTimeChart(const TimeChart& chart, QSize size, ImageFormat format) {
  return paintInto(size, format, chart.title,
                   [&](QPainter& painter) { drawTimeChart(painter, chart, size); });
}

QByteArray renderHeatMap(const HeatMap& map, QSize size, ImageFormat format) {
  return paintInto(size, format, map.title,
                   [&](QPainter& painter) { drawHeatMap(painter, map, size); });
}

}  // namespace tk
