#pragma once

#include <QString>
#include <QStringList>

// Each person logged in to the server as his own role, under the row
// policies, beside the shared role that they do not bind: a day's and a
// week's reads, the alarm poll, a new event and an event's properties
// alternated in rounds on one server; new events from 1, 2 and 4 writers at
// once (commands run one at a time on the server); then the office load of
// 200 workstations, on the shared role and each as its user's own role.
// `program` is this program, started again for the writers and the load.
void runRolesBench(const QString& program);

// A writer process: "roles-writer" <uri> <user number> <password> <seconds>;
// prints how many new events it made.
int rolesWriterMain(const QStringList& arguments);
