// The figures of the ballpark, each drawn in scene units (1 unit = 1 pixel of the 1x scene).
// The painter may carry any scale; antialiasing must be off so that only flat colours appear.
#pragma once

#include <QPointF>

class QPainter;

namespace koma::scene {

enum class Pose {
    kReady,     // knees bent, hands low, waiting for the ball
    kGloveUp,   // reaching up with the glove for a fly ball
    kWaving,    // a bare hand raised in greeting, the glove at the waist
    kPitching,  // glove at the chest, throwing arm raised behind the head
};

// Which hand of the figure, as seen in the picture, wears the glove.
enum class GloveSide { kLeft, kRight };

// A fielder facing the viewer, standing with the middle of their shoes at `feet`.
void DrawPlayer(QPainter& painter, QPointF feet, Pose pose, GloveSide glove);

// The catcher squatting behind home plate, seen from behind, mitt held out to the left.
void DrawCatcher(QPainter& painter, QPointF feet);

// The dog trotting to the right with a ball in its mouth; `paws` is the middle of its paws.
void DrawDog(QPainter& painter, QPointF paws);

// The bat lying on the ground, from the knob to the tip of the barrel.
void DrawBat(QPainter& painter, QPointF knob, QPointF tip);

// The infield, seen from above with home plate at the lower right and the diamond opening to
// the upper left: its sides run along the picture's axes, so the white lines stay crisp.
struct Diamond {
    QPointF home;  // the back corner of home plate, where the foul lines meet
    double side;   // from base to base

    QPointF FirstBase() const { return home - QPointF(0, side); }
    QPointF SecondBase() const { return home - QPointF(side, side); }
    QPointF ThirdBase() const { return home - QPointF(side, 0); }
    // The pitcher's plate lies a little short of the middle, as on a real field.
    QPointF Rubber() const { return home - QPointF(0.45 * side, 0.45 * side); }
};

// Foul lines, base lines, bases, home plate, the batter's boxes, the pitcher's circle and the
// on-deck circle.
void DrawDiamond(QPainter& painter, const Diamond& diamond);

}  // namespace koma::scene
