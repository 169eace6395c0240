#ifndef MFKGROUP_H
#define MFKGROUP_H

#include <QList>
#include <QString>
#include <QStringList>

// One function key of a group: the label drawn on it ("\n" for a second
// line) and what it controls: "table,key" of a parameter item, a word
// without a comma (no item), or nothing.
struct mfkitem_t
{
    QString tag;
    QString param;
};

// A group of function keys in pages of perPage keys. `selected` is the key
// of the current page that the multi-function knob works on.
struct mfkgroup_t
{
    int page = 0;
    int pageCount = 0;
    int perPage = 5;
    int selected = 0;
    QList<mfkitem_t> items;

    mfkgroup_t() = default;
    mfkgroup_t(const QList<mfkitem_t> &items, int perPage);

    // The item of key i on the current page, or null past the end.
    const mfkitem_t *item(int i) const;
    // The param of key i on the current page, empty past the end.
    QString keyParamString(int i) const;
    // keyParamString(i) split at ",", empty parts kept: "wparam,ks" gives
    // ["wparam", "ks"], "VOICE" gives ["VOICE"].
    QStringList dbTableParamNames(int i) const;
    // Turns to the next page (after the last comes the first) and keeps the
    // selection on an existing key: on a partly filled last page it moves
    // onto the page's last item. False when there is only one page.
    bool nextPage();
};

#endif
