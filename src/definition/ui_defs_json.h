#pragma once

#include "definition/ecu_definition.h"
#include "json/json_value.h"

namespace tk::detail {

/// A menu with its items, nested sub-items included.
JsonValue menuJson(const MenuDef& menu);
/// A dialog with its items.
JsonValue dialogJson(const DialogDef& dialog);
/// A table editor definition.
JsonValue tableJson(const TableDef& table);
/// A curve editor definition.
JsonValue curveJson(const CurveDef& curve);
/// A scalar (one editable value) definition.
JsonValue scalarJson(const ScalarDef& scalar);
/// An indicator panel with its indicators.
JsonValue indicatorPanelJson(const IndicatorPanelDef& panel);
/// A readout panel with its readouts.
JsonValue readoutPanelJson(const ReadoutPanelDef& panel);
/// A live graph.
JsonValue liveGraphJson(const LiveGraphDef& graph);
/// The port editor.
JsonValue portEditorJson(const PortEditorDef& p);
/// A gauge.
JsonValue gaugeJson(const GaugeDef& gauge);
/// The front page.
JsonValue frontPageJson(const FrontPageDef& f);

}  // namespace tk::detail
