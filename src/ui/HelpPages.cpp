#include "HelpPages.h"

#include "manual/Guide.h"

#include <QTabWidget>
#include <QWidget>
#include <iterator>

namespace {

// clang-format off
const HelpTopic Topics[] = {
    // window or piece           shown (tab or title)     page
    {"TFormMain",                nullptr,                 "index.md"},
    {"FirstStepsPanel",          nullptr,                 "install.md"},
    {"TFormLogin",               nullptr,                 "login.md"},
    {"TFormBuildInfo",           nullptr,                 "buildings.md"},
    {"TFormTerminalRegster",     nullptr,                 "terminals.md"},
    {"TFormAlter",               "无业主发卡",            "owner-card.md"},
    {"TFormAlter",               nullptr,                 "owners.md"},
    {"TerminalGrid",             nullptr,                 "owner-card.md"},
    {"TFormWriteUserCard",       nullptr,                 "owner-cards.md"},
    {"TFormInputDongHao",        nullptr,                 "exchange.md"},
    {"TFormSetTerminalParam",    nullptr,                 "device-cards.md"},
    {"TFormBlackNameInfo",       nullptr,                 "lost-card.md"},
    {"TFormShowBlackCard",       nullptr,                 "blacklist-card.md"},
    {"TFormInit_QDR",            nullptr,                 "format.md"},
    {"TFormUserInfo",            nullptr,                 "owner-list.md"},
    {"TFormSearchUserInfo",      nullptr,                 "owner-list.md"},
    {"TFormSearchCondition",     nullptr,                 "owner-list.md"},
    {"TfrmFixDataBase",          "〉操作员密码",          "log.md"},
    {"TfrmFixDataBase",          nullptr,                 "backup.md"},
    {"TFormOperationLog",        nullptr,                 "log.md"},
    {"HelpWindow",               nullptr,                 "index.md"},
};
// clang-format on

const char* const FromOpener[] = {
    "Dialog",     // the base of the modal windows, never shown on its own
    "CardDialog", // the base of the windows that use the card issuer
};

} // namespace

std::span<const HelpTopic> HelpTopics()
{
    return Topics;
}

std::span<const char* const> HelpFromOpener()
{
    return FromOpener;
}

QString HelpPageOf(const QString& widgetClass, const QString& shown)
{
    for (const HelpTopic& t : Topics)
        if (widgetClass == QLatin1String(t.widget) && (!t.shown || shown == QString::fromUtf8(t.shown)))
            return QString::fromUtf8(t.page);
    return {};
}

QString HelpShownIn(const QWidget* widget)
{
    if (!widget || !widget->isWindow())
        return {};
    for (const QTabWidget* tabs : widget->findChildren<QTabWidget*>())
        if (tabs->window() == widget && tabs->currentIndex() >= 0)
            return tabs->tabText(tabs->currentIndex());
    return widget->windowTitle();
}

QString HelpPageFor(const QWidget* widget)
{
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        const QString page = HelpPageOf(QLatin1String(w->metaObject()->className()), HelpShownIn(w));
        if (!page.isEmpty())
            return page;
    }
    return QLatin1String(GuideIndexPage);
}
