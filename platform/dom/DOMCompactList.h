#pragma once

#include <QList>

#include <algorithm>

// Makes room for one more entry in a list that an element or a declaration keeps for its whole
// life: by half again (at least two) rather than the doubling of the list's own growth, whose
// spare room, kept by each of a project's thousands of design elements, weighs more than the
// entries themselves.
template <typename T>
void reserveForOneMore(QList<T> &list)
{
    if (list.size() == list.capacity())
        list.reserve(list.size() + std::max<qsizetype>(2, list.size() / 2));
}
