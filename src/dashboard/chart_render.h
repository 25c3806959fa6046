#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>
#include <optional>
#include <vector>

namespace tk {

/// The picture formats a chart is written in.
enum class ImageFormat { Png, Svg };

/// The format a file name asks for by its suffix (".png" or ".svg", any case), else no value.
std::optional<ImageFormat> imageFormatFor(const QString& path);

/// One channel of a time chart: its values, one per time of the chart.
struct ChartSeries {
  QString name;
  QString units;
  std::vector<double> values;
};

/// A note at one moment of a time chart.
struct ChartMarker {
  double time = 0.0;
  QString text;
};

/// Channels over time, drawn as one panel per channel above a shared time axis in seconds.
struct TimeChart {
  QString title;
  std::vector<double> times;
  std::vector<ChartSeries> series;
  std::vector<ChartMarker> markers;
};

/// A table's values on its two axes; values hold rows * cols numbers, row after row, row r
/// belonging to yBins[r] and column c to xBins[c].
struct HeatMap {
  QString title;
  QString xName;
  QString yName;
  QString units;
  std::vector<double> xBins;
  std::vector<double> yBins;
  int rows = 0;
  int cols = 0;
  std::vector<double> values;
  int digits = 0;
  int xDigits = 0;
  int yDigits = 0;
  /// The live channels the axes stand for, when the definition names them.
  QString xChannel;
  QString yChannel;
};

/// The chart drawn at the given size in pixels, as PNG or SVG bytes. Needs a QGuiApplication
/// (an offscreen one will do) for its text; a channel of more points than the panel is wide is
/// drawn from each pixel column's first, lowest, highest and last value, which looks the same.
QByteArray renderTimeChart(const TimeChart& chart, QSize size, ImageFormat format);

/// The heat map drawn at the given size: one coloured cell per value, written at the map's
/// digits, the axes' bins at theirs; the lowest row at the bottom as the engine's load rises.
QByteArray renderHeatMap(const HeatMap& map, QSize size, ImageFormat format);

/// At most about count round tick values (steps of 1, 2 or 5 times a power of ten) covering
/// [low, high]; the two ends alone when the range is empty or not finite.
std::vector<double> niceTicks(double low, double high, int count);

}  // namespace tk
