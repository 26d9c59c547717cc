#pragma once

#include "report/FleetModel.h"

#include <QByteArray>
#include <QString>

namespace report {

// The view as one self-contained HTML page (UTF-8): CSS and inline SVG only,
// nothing fetched and no script, so that it can be mailed, put on a share
// and printed. Every text from the instruments or the history goes through
// HtmlText().
[[nodiscard]] QByteArray FleetPage(const FleetView &view);

// Text from outside for the page: control characters removed, as a
// signature's comment is shown, then escaped for HTML text and attribute
// values (in double quotes).
[[nodiscard]] QString HtmlText(const QString &outside);

} // namespace report
