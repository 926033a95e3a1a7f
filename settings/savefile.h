// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// How the station's settings files are saved: through a temporary file
// beside the file ("<name>.vestrel-tmp-XXXXXX") and a rename, so that a
// failed or interrupted write leaves the old file in place instead of a part
// or none. A link is saved where it leads and stays a link; the file's
// permissions stay. Where the folder takes no new file but the file itself
// is writable, it is rewritten in place.
namespace savefile {

// Empty on success, otherwise why it failed.
QString write(const QString &path, const QByteArray &content);
// A run killed between making its temporary file and the rename leaves that
// file behind; only names of that form are taken, never the operator's own
// ("<name>.backup", "<name>.old").
void removeLeftovers(const QString &path);

} // namespace savefile
