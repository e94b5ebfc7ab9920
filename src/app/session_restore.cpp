#include "app/session_restore.h"

namespace tallowick::app {

std::string restore_line(const session_restore& restore) {
    std::string line = "tallowick: trace session " + restore.session + ": ";
    if (!restore.provider.empty())
        line += "provider " + restore.provider + " ";
    line += restore.found + "; " + restore.done;
    if (restore.tries > 1)
        line += " (at try " + std::to_string(restore.tries) + ")";
    return line;
}

void restore_ledger::restored(const session_restore& restore) {
    count_.fetch_add(1);
    report_(restore_line(restore));
    if (heard_)
        heard_(restore);
}

} // namespace tallowick::app
