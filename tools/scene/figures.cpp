#include "figures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPolygonF>
#include <QTransform>

#include <array>
#include <cmath>
#include <initializer_list>
#include <numbers>

#include "palette.h"

namespace koma::scene {
namespace {

// --- Shapes -------------------------------------------------------------------------------

QPainterPath Ellipse(QPointF centre, double rx, double ry) {
    QPainterPath path;
    path.addEllipse(centre, rx, ry);
    return path;
}

QPainterPath RoundRect(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QPainterPath Polygon(std::initializer_list<QPointF> points) {
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points)));
    path.closeSubpath();
    return path;
}

// A limb or a stick: a thick rounded polyline through the given joints.
template <std::size_t N>
QPainterPath Limb(const std::array<QPointF, N>& joints, double width) {
    QPainterPath line(joints.front());
    for (std::size_t i = 1; i < N; ++i) {
        line.lineTo(joints.at(i));
    }
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(line);
}

// --- Painting -----------------------------------------------------------------------------

void Fill(QPainter& painter, const QPainterPath& shape, QRgb colour) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(Colour(colour));
    painter.drawPath(shape);
}

// Fills a shape with a one-unit black outline around it, like a cartoon. Overlapping parts of
// one shape merge without inner outlines.
void FillOutlined(QPainter& painter, QPainterPath shape, QRgb colour) {
    shape.setFillRule(Qt::WindingFill);
    painter.setPen(QPen(Colour(kBlack), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Colour(kBlack));
    painter.drawPath(shape);
    Fill(painter, shape, colour);
}

void FillRect(QPainter& painter, const QRectF& rect, QRgb colour) {
    painter.fillRect(rect, Colour(colour));
}

// A white chalk line along the picture's axes, two units wide, centred on the coordinate.
void ChalkLine(QPainter& painter, QPointF from, QPointF to) {
    const QRectF span = QRectF(from, to).normalized().adjusted(-1, -1, 1, 1);
    FillRect(painter, span, kWhite);
}

// --- Players ------------------------------------------------------------------------------

// Joints of one figure, drawn with the glove on the picture's right; the other side mirrors.
struct Body {
    std::array<QPointF, 3> left_leg;  // hip, knee, ankle
    std::array<QPointF, 3> right_leg;
    std::array<QPointF, 3> glove_arm;  // shoulder, elbow, hand
    std::array<QPointF, 3> free_arm;
};

constexpr double kHeadY = -37;
constexpr double kHeadRadius = 6;

Body BodyFor(Pose pose) {
    const std::array<QPointF, 3> straight_left = {{{-3, -18}, {-3, -11}, {-3, -4}}};
    const std::array<QPointF, 3> straight_right = {{{3, -18}, {3, -11}, {3, -4}}};
    switch (pose) {
        case Pose::kReady:
            return {{{{-3, -18}, {-6, -10}, {-6, -4}}},
                    {{{3, -18}, {6, -10}, {6, -4}}},
                    {{{6, -29}, {10, -22}, {8, -15}}},
                    {{{-6, -29}, {-10, -22}, {-8, -16}}}};
        case Pose::kGloveUp:
            return {straight_left,
                    straight_right,
                    {{{6, -29}, {11, -36}, {11, -46}}},
                    {{{-6, -29}, {-9, -23}, {-9, -17}}}};
        case Pose::kWaving:
            return {straight_left,
                    straight_right,
                    {{{6, -29}, {10, -23}, {7, -18}}},
                    {{{-6, -29}, {-11, -35}, {-12, -44}}}};
        case Pose::kPitching:
            return {{{{-3, -18}, {-6, -11}, {-8, -4}}},
                    {{{3, -18}, {4, -11}, {4, -4}}},
                    {{{6, -29}, {3, -22}, {-1, -25}}},
                    {{{-6, -29}, {-11, -33}, {-12, -42}}}};
    }
    return {straight_left, straight_right, {}, {}};
}

std::array<QPointF, 3> Mirrored(std::array<QPointF, 3> joints) {
    for (QPointF& joint : joints) {
        joint.setX(-joint.x());
    }
    return joints;
}

void DrawShoe(QPainter& painter, QPointF ankle, double outward) {
    const QRectF shoe(ankle.x() - 3.5 + outward * 1.5, -3.5, 7, 3.5);
    Fill(painter, RoundRect(shoe.adjusted(-0.5, -0.5, 0.5, 0.5), 1.5), kBlack);
}

void DrawLegs(QPainter& painter, const Body& body) {
    QPainterPath trousers = RoundRect(QRectF(-5.5, -21, 11, 6), 1);
    trousers.addPath(Limb(body.left_leg, 5));
    trousers.addPath(Limb(body.right_leg, 5));
    FillOutlined(painter, trousers, kTrousers);
    DrawShoe(painter, body.left_leg.back(), body.left_leg.back().x() < 0 ? -1 : 1);
    DrawShoe(painter, body.right_leg.back(), body.right_leg.back().x() < 0 ? -1 : 1);
}

void DrawGlove(QPainter& painter, QPointF hand) {
    FillOutlined(painter, Ellipse(hand, 4, 4.5), kBrown);
    // The seam between thumb and fingers.
    FillRect(painter, QRectF(hand.x() - 0.5, hand.y() - 3, 1, 3), kBlack);
}

// Short red sleeve to the elbow, bare forearm, hand; a glove over the hand if it wears one.
void DrawArm(QPainter& painter, const std::array<QPointF, 3>& arm, bool gloved) {
    const std::array<QPointF, 2> forearm = {arm.at(1), arm.at(2)};
    FillOutlined(painter, Limb(forearm, 3), kSkin);
    FillOutlined(painter, Ellipse(arm.at(2), 2, 2), kSkin);
    const std::array<QPointF, 2> sleeve = {arm.at(0), arm.at(1)};
    FillOutlined(painter, Limb(sleeve, 4.5), kShirt);
    if (gloved) {
        DrawGlove(painter, arm.at(2));
    }
}

void DrawFace(QPainter& painter) {
    const QPointF centre(0, kHeadY);
    const QPainterPath head = Ellipse(centre, kHeadRadius, kHeadRadius);
    FillOutlined(painter, head, kSkin);
    // Hair: the crown of the head, with a little fringe on either side.
    QPainterPath crown;
    crown.addRect(QRectF(-8, kHeadY - 8, 16, 5));
    crown.addRect(QRectF(-8, kHeadY - 4, 3, 3));
    crown.addRect(QRectF(5, kHeadY - 4, 3, 3));
    Fill(painter, head.intersected(crown), kBlack);
    // Eyes and a small smile.
    FillRect(painter, QRectF(-3, kHeadY - 1, 1, 2), kBlack);
    FillRect(painter, QRectF(2, kHeadY - 1, 1, 2), kBlack);
    FillRect(painter, QRectF(-1, kHeadY + 3, 3, 1), kShirt);
}

}  // namespace

void DrawPlayer(QPainter& painter, QPointF feet, Pose pose, GloveSide glove) {
    Body body = BodyFor(pose);
    if (glove == GloveSide::kLeft) {
        body = {Mirrored(body.right_leg), Mirrored(body.left_leg), Mirrored(body.glove_arm),
                Mirrored(body.free_arm)};
    }
    painter.save();
    painter.translate(feet);
    DrawLegs(painter, body);
    FillOutlined(painter, RoundRect(QRectF(-6, -31, 12, 13), 2), kShirt);
    DrawArm(painter, body.free_arm, false);
    DrawArm(painter, body.glove_arm, true);
    DrawFace(painter);
    painter.restore();
}

void DrawCatcher(QPainter& painter, QPointF feet) {
    painter.save();
    painter.translate(feet);
    // Squatting: knees wide, heels under the seat.
    QPainterPath trousers = Ellipse(QPointF(0, -13), 8, 5);
    trousers.addPath(Limb(std::array<QPointF, 3>{{{-4, -13}, {-11, -10}, {-8, -4}}}, 5.5));
    trousers.addPath(Limb(std::array<QPointF, 3>{{{4, -13}, {11, -10}, {8, -4}}}, 5.5));
    FillOutlined(painter, trousers, kTrousers);
    Fill(painter, RoundRect(QRectF(-12.5, -4, 7, 4), 1.5), kBlack);
    Fill(painter, RoundRect(QRectF(5.5, -4, 7, 4), 1.5), kBlack);
    // His back, bent forward a little.
    FillOutlined(painter, RoundRect(QRectF(-7, -28, 14, 14), 3), kShirt);
    // The bare hand rests on the right knee; the mitt is held out towards the plate.
    DrawArm(painter, {{{6, -26}, {11, -21}, {11, -14}}}, false);
    const std::array<QPointF, 3> mitt_arm = {{{-6, -26}, {-11, -26}, {-15, -30}}};
    DrawArm(painter, mitt_arm, false);
    FillOutlined(painter, Ellipse(mitt_arm.back() + QPointF(-1, -1), 5, 5.5), kBrown);
    FillRect(painter, QRectF(mitt_arm.back().x() - 1.5, mitt_arm.back().y() - 4, 1, 4), kBlack);
    // The back of his head: all hair, the ears showing.
    FillOutlined(painter, Ellipse(QPointF(-6.5, -33), 1.5, 2), kSkin);
    FillOutlined(painter, Ellipse(QPointF(6.5, -33), 1.5, 2), kSkin);
    FillOutlined(painter, Ellipse(QPointF(0, -34), 6, 6), kBlack);
    FillRect(painter, QRectF(-3, -28, 6, 1), kSkin);
    painter.restore();
}

void DrawDog(QPainter& painter, QPointF paws) {
    painter.save();
    painter.translate(paws);
    // Far legs first, then the tail, the body and the near legs over it.
    const auto leg = [&painter](double hip_x, double paw_x) {
        FillOutlined(painter, Limb(std::array<QPointF, 2>{{{hip_x, -14}, {paw_x, -2}}}, 4.5),
                     kBrown);
        Fill(painter, RoundRect(QRectF(paw_x - 2.5, -2.5, 6, 2.5), 1), kBlack);
    };
    leg(-14, -18);
    leg(12, 15);
    FillOutlined(painter, Limb(std::array<QPointF, 3>{{{-20, -19}, {-27, -24}, {-28, -31}}}, 3.5),
                 kBrown);
    FillOutlined(painter, Ellipse(QPointF(-3, -18), 20, 8), kBrown);
    leg(-19, -23);
    leg(8, 8);
    // Red collar, head, snout, the ball held in the mouth.
    FillOutlined(painter, RoundRect(QRectF(12, -27, 4, 12), 1.5), kShirt);
    FillOutlined(painter, Ellipse(QPointF(21, -26), 7.5, 7), kBrown);
    FillOutlined(painter, RoundRect(QRectF(23, -26, 11, 7), 2.5), kBrown);
    FillOutlined(painter, Ellipse(QPointF(33.5, -18.5), 4.5, 4.5), kWhite);
    FillRect(painter, QRectF(31, -20, 1, 3), kShirt);
    FillRect(painter, QRectF(35, -20, 1, 3), kShirt);
    Fill(painter, RoundRect(QRectF(32, -27, 3.5, 3), 1), kBlack);
    FillRect(painter, QRectF(24, -30, 2, 2), kBlack);
    // A floppy black ear.
    Fill(painter, Polygon({{14, -31}, {19, -33}, {18, -24}, {14, -22}}), kBlack);
    painter.restore();
}

void DrawBat(QPainter& painter, QPointF knob, QPointF tip) {
    const QPointF along = tip - knob;
    const double length = std::hypot(along.x(), along.y());
    const double degrees = std::atan2(along.y(), along.x()) * 180.0 / std::numbers::pi;
    painter.save();
    painter.translate(knob);
    painter.rotate(degrees);
    // Thin handle widening into the barrel, rounded at the end, with a knob.
    QPainterPath bat = Polygon({{2, -1.5},
                                {0.45 * length, -1.5},
                                {0.75 * length, -3.5},
                                {length - 3, -3.5},
                                {length - 3, 3.5},
                                {0.75 * length, 3.5},
                                {0.45 * length, 1.5},
                                {2, 1.5}});
    bat.addPath(Ellipse(QPointF(length - 3, 0), 3, 3.5));
    bat.addPath(Ellipse(QPointF(1, 0), 2, 2.5));
    FillOutlined(painter, bat, kBrown);
    painter.restore();
}

void DrawDiamond(QPainter& painter, const Diamond& diamond) {
    const QPointF home = diamond.home;
    const QPointF first = diamond.FirstBase();
    const QPointF second = diamond.SecondBase();
    const QPointF third = diamond.ThirdBase();

    // Foul lines run from home to the edge of the picture; base lines close the square.
    ChalkLine(painter, home, QPointF(home.x(), -2));
    ChalkLine(painter, home, QPointF(-2, home.y()));
    ChalkLine(painter, first, second);
    ChalkLine(painter, second, third);

    // The batter's boxes stand either side of the plate, square to the line of the pitch.
    const QPointF to_pitcher = QPointF(-1, -1) / std::sqrt(2.0);
    const QPointF across = QPointF(1, -1) / std::sqrt(2.0);
    const QPointF plate_middle = home + QPointF(-7, -7);
    painter.setPen(QPen(Colour(kWhite), 1.5, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.setBrush(Qt::NoBrush);
    for (const double sign : {1.0, -1.0}) {
        const QPointF middle = plate_middle + sign * 25 * across;
        const QPointF length = 17 * to_pitcher;
        const QPointF width = 9 * across;
        painter.drawPolygon(QPolygonF({middle + length + width, middle + length - width,
                                       middle - length - width, middle - length + width}));
    }

    // The pitcher's circle, and the plate he stands on, seen edge on.
    const QPointF rubber = diamond.Rubber();
    painter.setPen(QPen(Colour(kWhite), 2.0));
    painter.drawEllipse(rubber + QPointF(0, 2), 21, 19);
    FillRect(painter, QRectF(rubber + QPointF(-9, 5), QSizeF(19, 3)), kWhite);

    // The on-deck circle, in foul ground off the first-base line.
    painter.setPen(QPen(Colour(kWhite), 2.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(home + QPointF(42, -84), 12, 11);

    // Bases straddle the corners; home plate's point sits where the foul lines meet.
    for (const QPointF base : {first, second, third}) {
        FillOutlined(painter, RoundRect(QRectF(base - QPointF(4.5, 4.5), QSizeF(9, 9)), 1), kWhite);
    }
    FillOutlined(painter,
                 Polygon({home, home + QPointF(0, -12), home + QPointF(-6, -18),
                          home + QPointF(-18, -6), home + QPointF(-12, 0)}),
                 kWhite);
}

}  // namespace koma::scene
