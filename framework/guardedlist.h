#pragma once

#include <QList>
#include <QPointer>

// Objects someone else owns and may delete at any time (rows a plug-in was handed, say): an
// entry whose object is gone reads as null and is left out of live().
template<typename T> class GuardedList
{
public:
    void append(T* object) { m_entries.append(QPointer<T>(object)); }
    qsizetype size() const { return m_entries.size(); }
    // Null once that object is gone.
    T* at(qsizetype index) const { return m_entries.at(index).data(); }
    // The objects still alive, in the order they were added.
    QList<T*> live() const
    {
        QList<T*> objects;
        objects.reserve(m_entries.size());
        for (const QPointer<T>& entry : m_entries) {
            if (entry)
                objects.append(entry.data());
        }
        return objects;
    }

private:
    QList<QPointer<T>> m_entries;
};
