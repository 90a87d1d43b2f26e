#pragma once
#include <QtCore/qglobal.h>

#if defined(PAVANE_BUILD)
#define PAVANE_EXPORT Q_DECL_EXPORT
#else
#define PAVANE_EXPORT Q_DECL_IMPORT
#endif

#include <QColor>
#include <QtGlobal>

namespace pavane {
// Colours are given as 0x00BBGGRR (red in the low byte).
inline QColor FromColorRef(quint32 c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
inline quint32 ToColorRef(const QColor& c) {
  return quint32(c.red()) | (quint32(c.green()) << 8) | (quint32(c.blue()) << 16);
}
// Text alignment flags: 0 left, 1 centred, 2 right; always one vertically
// centred line.
PAVANE_EXPORT Qt::Alignment AlignmentOf(unsigned flags);
}  // namespace pavane
