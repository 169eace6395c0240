#include "ui/mfkgroup.h"

mfkgroup_t::mfkgroup_t(const QList<mfkitem_t> &list, int keysPerPage)
    : perPage(keysPerPage)
    , items(list)
{
    pageCount = perPage > 0 ? (items.size() + perPage - 1) / perPage : 0;
}

const mfkitem_t *mfkgroup_t::item(int i) const
{
    if (i < 0 || perPage <= 0 || i >= perPage)
        return nullptr;
    const int k = i + page * perPage;
    return k >= 0 && k < items.size() ? &items.at(k) : nullptr;
}

QString mfkgroup_t::keyParamString(int i) const
{
    const mfkitem_t *it = item(i);
    return it ? it->param : QString();
}

QStringList mfkgroup_t::dbTableParamNames(int i) const
{
    return keyParamString(i).split(QLatin1Char(','), Qt::KeepEmptyParts);
}

bool mfkgroup_t::nextPage()
{
    if (pageCount <= 1)
        return false;
    const int next = page + 1 < pageCount ? page + 1 : 0;
    if (next == page)
        return false;
    page = next;
    const int n = items.size();
    const int p = selected + page * perPage + 1;
    if (n > 0 && p > n)
        selected -= p % n;
    // Never beyond the keys of the page (the rule above already holds for
    // groups of five keys or more per page).
    const int onPage = qMin(perPage, n - page * perPage);
    selected = qBound(0, selected, qMax(0, onPage - 1));
    return true;
}
