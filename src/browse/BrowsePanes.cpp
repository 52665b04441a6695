#include "browse/BrowsePanes.h"

namespace {

const BrowsePanes *g_panes = nullptr;

}  // namespace

void SetBrowsePanes(const BrowsePanes *panes)
{
    g_panes = panes;
}

const BrowsePanes &Panes()
{
    static const BrowsePanes none;
    return g_panes ? *g_panes : none;
}
