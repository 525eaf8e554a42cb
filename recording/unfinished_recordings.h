#pragma once

#include "platform/audio_file.h"
#include "recording/recorder_result.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

// Recordings that a run of the program never finished (it was killed or
// crashed, the power went, the session ended): their files are still in the
// fragmented form they are written in. Found by their names in the
// recordings folder; nothing else there is touched.
class UnfinishedRecordings {
public:
    // One recording whose files were finished now.
    struct Recovered {
        // "vstrecha-<stamp>[-N]", what its files' names begin with.
        QString base;
        // When it was started, from the stamp in its name.
        QDateTime startedAt;
        // Its files as they are now; `video` only when there is one.
        RecorderResult files;
    };

    // What the top-level boxes of an MPEG-4 file tell.
    struct Boxes {
        // A 'moof' among them: the file is still fragmented.
        bool fragmented = false;
        // Where the last whole box ends (a fragment counts as whole with the
        // box after its 'moof'); the file is cut inside a box when this is
        // less than its size.
        qint64 wholeLength = 0;
    };
    static Boxes readBoxes(const QString& path);

    // Removes what an interrupted finish left (".vstrecha-….part.…") and
    // finishes, through `media`, every fragmented file of ours in
    // `directory`, cutting a file that ends inside a box back to its last
    // whole one first. Files at `inUse`, and any file that another running
    // program is writing, are left alone. Returns the recordings of which at
    // least one file was finished, in the order they were started.
    static std::vector<Recovered> finish(const QString& directory, AudioMedia& media, const QStringList& inUse = {});
};
