#include "definition/default_setting_groups.h"

#include <QXmlStreamReader>

namespace tk {
namespace {

const char kDefaultSettingGroupsXml[] = R"xml(<?xml version="1.0" encoding="UTF-8"?>
<defaultSettingGroups>
  <settingGroup name="lambdaSensor" displayName="EGO O2 Sensor">
    <option name="NARROW_BAND_EGO" displayName="Narrowband Sensor" default="true"/>
    <option name="WB_1_0_LINEAR" displayName="Wideband in NB Emulator Mode, 0-1v 1.5-0.5 Lambda"/>
    <option name="AEM_LINEAR" displayName="AEM UEGO / Linear AEM-30-42xx"/>
    <option name="AEM_NON_LINEAR" displayName="AEM UEGO(Legacy) Controller AEM-30-230x"/>
    <option name="DIYWB_NON_LINEAR" displayName="DIY-WB or Tech Edge non-linear output"/>
    <option name="DYNOJET_LINEAR" displayName="DynoJet Wideband Commander"/>
    <option name="TECHEDGE_LINEAR" displayName="Tech Edge sensor giving 0-5V 9-19:1 AFR"/>
    <option name="INNOVATE_1_2_LINEAR" displayName="Innovate sensor giving 1-2V 10-20:1 AFR"/>
    <option name="INNOVATE_0_5_LINEAR" displayName="Innovate, PLX 0-5V 10-20:1 AFR"/>
    <option name="INNOVATE_LC1_DEFAULT" displayName="Innovate LC-1 default, 0-5v = 0.5-1.5 lambda"/>
    <option name="ZEITRONIX_NON_LINEAR" displayName="Zeitronix Non-linear WB"/>
    <option name="WB_UNKNOWN" displayName="Wideband sensor but none of the above types"/>
  </settingGroup>
  <settingGroup name="lambdaDisplay" displayName="Lambda Display">
    <option name="LAMBDA" displayName="Lambda"/>
    <option name="AFR" displayName="AFR" default="true"/>
  </settingGroup>
  <settingGroup name="temperatureDisplay" displayName="Temperature Display">
    <option name="FAHRENHEIT" displayName="Fahrenheit" default="true"/>
    <option name="CELSIUS" displayName="Celsius"/>
  </settingGroup>
  <settingGroup name="mapBaro" displayName="MAP Baro">
    <option name="" displayName="MAP Baro off (Default)" default="true"/>
    <option name="MAPbaro" displayName="MAP Baro ON - Must match Other Fuel Settings"/>
  </settingGroup>
  <settingGroup name="additionalFuel" displayName="Additional Fuel">
    <option name="" displayName="N2O off (Default)" default="true"/>
    <option name="n2o" displayName="N2O"/>
  </settingGroup>
  <settingGroup name="pressureDisplay" displayName="Manifold Pressure Display">
    <option name="KPa" displayName="KPa" default="true"/>
    <option name="PSI" displayName="PSI"/>
  </settingGroup>
  <settingGroup name="fuelingAlgorithm" displayName="Fueling Algorithms">
    <option name="SPEED_DENSITY" displayName="Speed Density Fueling Algorithm" default="true"/>
    <option name="ALPHA_N" displayName="Alpha-N fueling Algorithm"/>
    <option name="AIR_FLOW_METER" displayName="Air Flow Meter"/>
  </settingGroup>
  <settingGroup name="mapSensor" displayName="MAP Sensor">
    <option name="MPX4115" displayName="MPX4115 - 115 kPa, MS v1.01"/>
    <option name="MPX4250" displayName="MPX4250 - 250 kPa, MS v2.2+" default="true"/>
    <option name="MPXH6300A" displayName="MPXH6300 - 300 kPa"/>
    <option name="MPXH6400A" displayName="MPXH6400 - 400 kPa"/>
  </settingGroup>
</defaultSettingGroups>
)xml";

}  // namespace

QList<SettingGroup> readSettingGroupsXml(const QString& xml) {
  QList<SettingGroup> groups;
  QXmlStreamReader reader(xml);
  while (!reader.atEnd()) {
    reader.readNext();
    if (!reader.isStartElement()) {
      continue;
    }
    const auto attributes = reader.attributes();
    if (reader.name() == QLatin1String("settingGroup")) {
      SettingGroup group;
      group.Name = attributes.value(QLatin1String("name")).toString();
      group.DisplayName = attributes.value(QLatin1String("displayName")).toString();
      groups.append(group);
    } else if (reader.name() == QLatin1String("option") && !groups.isEmpty()) {
      SettingOption option;
      option.Name = attributes.value(QLatin1String("name")).toString();
      option.DisplayName = attributes.value(QLatin1String("displayName")).toString();
      option.IsDefault = attributes.value(QLatin1String("default"))
                             .compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
      SettingGroup& group = groups.last();
      // A group taken from this list starts on its default option, as a user who never chose
      // one expects; without a default the first option is in force.
      if (option.IsDefault || group.Options.isEmpty()) {
        group.SelectedOption = option.Name;
      }
      group.Options.append(option);
    }
  }
  return groups;
}

const QList<SettingGroup>& defaultSettingGroups() {
  static const QList<SettingGroup> groups =
      readSettingGroupsXml(QString::fromUtf8(kDefaultSettingGroupsXml));
  return groups;
}

}  // namespace tk
