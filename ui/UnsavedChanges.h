#pragma once

#include <QString>

// What the card list holds that is in no file. Names live only on this computer, so a write to
// the reader keeps the cards but not the names.
class TUnsavedChanges
{
public:
    enum class TPart { Names, Cards, Everything };

    void Changed(TPart What);
    void Saved(TPart What);
    bool Any() const { return FNames || FCards; }

private:
    bool FNames = false;
    bool FCards = false;
};

// The title of a window showing FileName (none yet: empty), marked while changes are unsaved.
QString DocumentTitle(const QString& Base, const QString& FileName, bool Unsaved);
