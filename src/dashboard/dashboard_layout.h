#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "dashboard/dashboard_widget.h"

namespace tk {

/// The region of a page where a table or curve editor is shown.
struct TableArea {
  double x = 0.0;
  double y = 0.0;
  double width = 0.0;
  double height = 0.0;
  // A table area that is given at all is meant to be seen unless it says otherwise.
  bool isVisible = true;

  bool operator==(const TableArea&) const = default;
};

/// A floating panel listing channels by name.
struct ChannelListPanel {
  QString id{};
  QString title{};
  double x = 0.0;
  double y = 0.0;
  double width = 0.0;
  double height = 0.0;
  QStringList channels{};

  bool operator==(const ChannelListPanel&) const = default;
};

/// One page of the display: a fixed-size canvas with its widgets and panels.
struct DashboardPage {
  QString id{};
  // Every page starts with this title, whatever its position.
  QString title = QStringLiteral("Page 1");
  double canvasWidth = 1920.0;
  double canvasHeight = 1080.0;
  std::optional<QString> backgroundImagePath{};
  int backgroundStretchMode = 0;
  bool useNoBackground = false;
  QList<DashboardWidget> widgets{};
  std::optional<TableArea> tableArea{};
  QList<ChannelListPanel> channelLists{};

  bool operator==(const DashboardPage&) const = default;
};

/// A named set of pages and the page shown first.
struct DashboardLayout {
  QString name = QStringLiteral("Default");
  QList<DashboardPage> pages{};
  int activePageIndex = 0;

  bool operator==(const DashboardLayout&) const = default;
};

}  // namespace tk
