// The bitmaps the canvas draws, made by our own painting code and kept by
// name: "CMD<kind>" (80 x 20, the block with its caption), "CMDIN" (the
// input port, 12 x 11), "CMD<kind>_<exit>" (12 x 12, numbered exits),
// "SCRIPT_DEFAULT", "SCRIPT_HOOK" and "SCRIPT_OUT" (script exits), and the
// canvas cursors "allmove", "hmove", "vmove", "selline", "line",
// "angleline".
#pragma once

#include <QCursor>
#include <QPixmap>
#include <QString>

namespace designer_ui {

// The image of `name`; a grey box for a name it does not know.
const QPixmap& blockImage(const QString& name);
// The toolbar caption of a block kind ("播放语音", ...; "开始" for the start).
QString kindCaption(int kind);
// The cursor of `name`.
QCursor canvasCursor(const QString& name);
// The font the canvas and its images write Chinese with.
QFont chineseFont(int pixelSize);

}  // namespace designer_ui
