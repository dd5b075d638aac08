#include "link/replyparser.h"

#include "app/appcontext.h"
#include "link/showdata.h"

#include <QVariant>

void ParseModuleReply(AppContext& ctx) {
    ShowData* window = ctx.showdata();
    CommControl& comm = window->MSComm1;
    while (comm.InBufferCount() > 0) {
        const QVariant data = comm.Input();
        if (ctx.ShowAsText) {
            window->appendReceived(data.toString());
        } else {
            QString hex;
            for (char c : data.toByteArray())
                hex += QStringLiteral("%1:")
                           .arg(static_cast<quint8>(c), 2, 16, QLatin1Char('0'))
                           .toUpper();
            window->appendReceived(hex);
        }
    }
}
