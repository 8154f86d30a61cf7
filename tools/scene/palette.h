// The seven flat colours of the ballpark, and the blank's own colour.
#pragma once

#include <QColor>
#include <QRgb>

#include <array>

namespace koma::scene {

inline constexpr QRgb kGrass = qRgb(0, 160, 0);
inline constexpr QRgb kShirt = qRgb(160, 0, 0);
inline constexpr QRgb kTrousers = qRgb(0, 0, 160);
inline constexpr QRgb kBlack = qRgb(0, 0, 0);
inline constexpr QRgb kSkin = qRgb(241, 187, 147);
inline constexpr QRgb kBrown = qRgb(150, 80, 66);
inline constexpr QRgb kWhite = qRgb(255, 255, 255);

inline constexpr std::array<QRgb, 7> kPalette = {kGrass, kShirt, kTrousers, kBlack,
                                                 kSkin,  kBrown, kWhite};

// The blank tile is not part of the scene: a plain yellow-green square.
inline constexpr QRgb kBlankGreen = qRgb(181, 230, 29);

inline QColor Colour(QRgb rgb) {
    return QColor::fromRgb(rgb);
}

}  // namespace koma::scene
