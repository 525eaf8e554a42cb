#include "shots/shot_weight.h"

namespace {

struct Sizes {
    double arrowUnit;
    double lineWidth;
    double textSize;
};

Sizes sizes(ShotWeight weight)
{
    switch (weight) {
    case ShotWeight::hairline: return {2.55, 1.5, 11};
    case ShotWeight::thin: return {4.25, 2.5, 11.7};
    case ShotWeight::normal: return {6.8, 4, 18};
    case ShotWeight::thick: return {10.2, 6, 28.8};
    case ShotWeight::heavy: return {14.45, 8.5, 46.8};
    }
    return {6.8, 4, 18};
}

} // namespace

double arrowUnit(ShotWeight weight) { return sizes(weight).arrowUnit; }
double lineWidth(ShotWeight weight) { return sizes(weight).lineWidth; }
double textSize(ShotWeight weight) { return sizes(weight).textSize; }
