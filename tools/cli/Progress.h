#pragma once

#include <QString>

// One line on stderr that counts the cards of a transfer, redrawn in place. Draws nothing when
// stderr is not a terminal, so scripts and logs see only the result.
class TProgress
{
public:
    explicit TProgress(bool Visible) : FVisible(Visible) {}
    ~TProgress() { Finish(); }
    TProgress(const TProgress&) = delete;
    TProgress& operator=(const TProgress&) = delete;

    // Total -1: not known in advance.
    void Start(const QString& Label, int Total);
    void Step(int Done);
    // Ends the line; also when the transfer failed, so a message that follows starts afresh.
    void Finish();

private:
    bool FVisible;
    bool FDrawn = false;
    QString FLabel;
    int FTotal = -1;
};
