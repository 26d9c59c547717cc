#include "upgrade/AddressField.h"

#include <QRegularExpression>

namespace upgrade {

bool FitsAddressField(const QString &address)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9]{1,3}(\\.[0-9]{1,3}){3}$"));
    return pattern.match(address).hasMatch();
}

} // namespace upgrade
