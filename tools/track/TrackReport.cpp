#include "track/TrackReport.h"

#include "mouse/MouseTranslator.h"

namespace pavrel::track {

nlohmann::ordered_json ToJson(const TFrameReport& Report) {
  nlohmann::ordered_json line;
  line["frame"] = Report.Frame;
  if (!Report.Result) {
    line["error"] = Report.Error;
    return line;
  }
  const TTrackingResult& r = *Report.Result;
  line["centre"] = {r.CentreRow, r.CentreColumn};
  line["window"] = {r.Window.Left, r.Window.Top, r.Window.Right, r.Window.Bottom};
  line["angle"] = r.Angle;
  line["hu"] = {r.HuMoment1, r.HuMoment2, r.HuMoment3, r.HuMoment4};
  if (Report.HandFields) {
    line["lost"] = r.Lost;
    line["hand"] = {r.Hand.Row, r.Hand.Column};
  }
  if (Report.Code) {
    line["code"] = *Report.Code;
    line["action"] = ActionName(*Report.Code);
  }
  return line;
}

}  // namespace pavrel::track
