#pragma once

#include <QPixmap>

// The splash window's artwork, drawn for the screen's device pixel ratio so that it stays
// sharp on scaled screens: the banner along the top (407 x 54) and the scope beside the
// title (119 x 93), both in the widgets' own pixels.
namespace SplashArtwork {

QPixmap banner(qreal devicePixelRatio);
QPixmap scope(qreal devicePixelRatio);

} // namespace SplashArtwork
