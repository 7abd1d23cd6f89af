#pragma once

#include <QByteArray>

// The server's own rules for the change trail's readers and for the keys of
// entries and repeating events, set up with the roles (TServerRoles): SQL
// text, run by the role that owns the tables. "@S@" in it stands for the
// tables' schema, quoted.
//
// Readers: each trail record of an entry (subject "E") or repeating event
// ("S") keeps in q_readers who could read it when it was written - none
// (NULL) when the subject was public on both sides of the change, else the
// user keys of those who could read it on both sides (its owner and
// assignees; on one side only where the other is missing) - worked out by
// the server whatever the client sends: the side after the change from the
// row's kept facts (q_private, q_owner, q_assignees, filled by the trail's
// own trigger), the side before from the subject's newest earlier record
// that has them. Where neither side is known, nobody but administrators and
// the record's writer reads it. Nothing that happens to the entry later -
// made public, deleted, its key taken again - changes who reads the record.
//
// Freed keys: the key of an entry or repeating event, once deleted (or
// moved away from by a change of key), is never used again, whoever writes:
// the server keeps the freed keys (quorla_freed, which no person's role
// reads) and refuses an add under one as an add under a key in use (SQL
// state 23505). Workstations never try: their keys come from the mark of
// the largest key ever held.
class TServerTrail
{
public:
    // The readers' column, its trigger and the function that combines the
    // two sides. Set up once with the column, the records already there get
    // their readers from their kept facts and those of the subject's record
    // before them, and a record whose summary carries the readers mark
    // ("private...") is never public; where nothing was kept, administrators
    // and the writer only. Needs the trail's kept facts set up first.
    static QByteArray ReadersSql(bool series);

    // The freed keys' table and triggers (on the repeating events' too, when
    // `series`). Set up once with the table, it takes the keys the trail
    // (when `trail`) names for entries and repeating events no longer there,
    // and the datasets' marks of the largest key held go past them.
    static QByteArray FreedKeysSql(bool series, bool trail);

    // How a trigger function that looks rows up by their keys is declared
    // (before its body): run as the tables' owner with its search path
    // pinned, and planned for walks of the tables' indexes in their order. A
    // session keeps the plans it made at a function's first calls: one made
    // while a table was small (a new office's trail, say) reads the whole
    // table, or all of a subject's rows sorted, at every later call of that
    // session once the table has grown.
    static QByteArray LookupFunction();

    // The statement, in such a function on the trail, that reads `columns`
    // INTO `into` from the newest record of the new row's subject (`subj`,
    // its text) that has kept facts. It goes by the trail's index of
    // subjects alone: under an equality the trail's keys would serve its
    // order as well, and a plan made while the trail was small takes them,
    // walking the whole trail back at every write.
    static QByteArray NewestWithFacts(const QByteArray& columns, const QByteArray& into);

    // In a trigger on the trail, the subject (its key's bytes) of the row
    // being written, from the row's bytes: before the insert the server has
    // not computed its columns yet.
    static QByteArray NewSubject();
};
