#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "mouse/MouseTranslator.h"
#include "mouse/VkMatrix.h"

// The pose classes: each frame's two features against four Gaussian classes, and the tilt
// that adds a scroll mark.

namespace pavrel {

namespace {

struct TPoseClass {
  std::int32_t Code;
  double Mean1, Mean2;
  double S11, S12, S22;  // symmetric inverse covariance
};

// Each value read as a double gives the class constant exactly.
constexpr std::array<TPoseClass, TMouseTranslator::ClassCount> PoseClasses{{
    {maMouseUp, 81585.0, 9.133, 5.2735e-07, -0.00020013, 0.35189},
    {maMouseDown, 76069.56521739131, 16.62173913043478, 1.7913e-05, -0.011101, 6.9742},
    {maMinimize, 69408.69565217392, 5.795217391304349, 1.130715168064746e-05, -0.01002700821437182,
     9.264872955536193},
    {maNextWindow, 85368.0, 23.774, 2.3666e-06, -0.0017118, 1.2763},
}};

constexpr double InitialBestDistance = 1.7e308;
constexpr double TiltThreshold = 25.0;  // degrees
}  // namespace

std::string ActionName(std::int32_t Code) {
  std::string name;
  switch (Code / 4) {
    case 0:
      name = "No Action";
      break;
    case 1:
      name = "Mouse Up";
      break;
    case 2:
      name = "Mouse Down";
      break;
    case 4:
      name = "Minimize";
      break;
    case 8:
      name = "Next Window";
      break;
    default:
      name = "Undefined";
      break;
  }
  switch (Code & 3) {
    case maScrollDown:
      name += "  _";
      break;
    case maScrollUp:
      name += "  ^";
      break;
    default:
      break;
  }
  return name;
}

void TMouseTranslator::InitClasses() {
  for (std::size_t i = 0; i < PoseClasses.size(); ++i) {
    const TPoseClass& c = PoseClasses[i];
    FInvCovariance[i] = std::make_unique<TVkMatrix>(2, 2);
    FInvCovariance[i]->SetElement(1, 1, c.S11);
    FInvCovariance[i]->SetElement(1, 2, c.S12);
    FInvCovariance[i]->SetElement(2, 1, c.S12);
    FInvCovariance[i]->SetElement(2, 2, c.S22);
    FNegMean[i] = std::make_unique<TVkMatrix>(1, 2);
    FNegMean[i]->SetElement(1, 1, -c.Mean1);
    FNegMean[i]->SetElement(1, 2, -c.Mean2);
  }
}

double TMouseTranslator::ClassDistance(const TVkMatrix& Feature, const TVkMatrix& NegMean,
                                       const TVkMatrix& InvCovariance) {
  const std::unique_ptr<TVkMatrix> d = Feature.Add(NegMean);               // x - m
  const std::unique_ptr<TVkMatrix> dt = d->Transpose();                    // (x - m)^T
  const std::unique_ptr<TVkMatrix> p = InvCovariance.MultiplyMatrix(*dt);  // S (x - m)^T
  const std::unique_ptr<TVkMatrix> q = d->MultiplyMatrix(*p);              // (x - m) S (x - m)^T
  return q->GetElement(1, 1);
}

std::array<double, TMouseTranslator::ClassCount> TMouseTranslator::ClassDistances(
    double Feature1, double Feature2) const {
  TVkMatrix feature(1, 2);
  feature.SetElement(1, 1, Feature1);
  feature.SetElement(1, 2, Feature2);
  std::array<double, ClassCount> distances{};
  for (std::size_t i = 0; i < distances.size(); ++i) {
    distances[i] = ClassDistance(feature, *FNegMean[i], *FInvCovariance[i]);
  }
  return distances;
}

std::int32_t TMouseTranslator::Classify(const std::array<double, ClassCount>& Distances,
                                        double Angle) {
  double best = InitialBestDistance;
  int bestClass = -1;
  for (int i = 0; i < ClassCount; ++i) {
    const double d = Distances[static_cast<std::size_t>(i)];
    if (!(d >= best)) {
      best = d;
      bestClass = i;
    }
  }
  if (bestClass < 0) {
    return maNoAction;
  }
  std::int32_t code = PoseClasses[static_cast<std::size_t>(bestClass)].Code;
  if (bestClass == 0 || bestClass == 1) {
    const double degrees = Angle * 360.0 / 6.28;
    if (degrees > TiltThreshold) {
      code |= maScrollDown;
    } else if (!(degrees >= -TiltThreshold)) {  // below -25 degrees, or not a number
      code |= maScrollUp;
    }
  }
  return code;
}

}  // namespace pavrel
