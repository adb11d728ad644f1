#include "ui/MainFrm.h"

#include "reader/Dorvik.h"
#include "ui/CardListModel.h"
#include "ui/CardSwipeFrm.h"
#include "ui/MessageBoxes.h"
#include "ui_MainFrm.h"

// A card swiped on the reader is recorded; a listed card is then shown, an unlisted one offered
// for the list.

void TMainForm::CardReaderCardSwipe(QObject*, TRfidTag& Tag)
{
    RecordSwipe(Tag); // first: whatever follows may wait on the user
    if (FSwipeDialogOpen)
        return;
    const TRfidTags& Tags = FCardReader->Tags();
    // A card that a running read set aside is known: the read brings it back with its name.
    if (FCardReader->SetAsideHolds(Tag) && Tags.IndexOf(Tag) < 0)
        return;
    if (Tags.IndexOf(Tag) >= 0)
        ShowSwipedCard(Tag);
    else if (Tags.Count() < Tags.Limit)
        OfferSwipedCard(Tag);
}

void TMainForm::ShowSwipedCard(const TRfidTag& Tag)
{
    const TRfidTags& Tags = FCardReader->Tags();
    QTreeView* List = FUi->lstCards;
    List->clearSelection();
    for (int Row = 0; Row < FModel->rowCount() && Row < Tags.Count(); ++Row) {
        if (CompareTags(Tags.Items(Row), Tag) == 0) {
            SelectRow(Row);
            List->scrollTo(FModel->index(Row, 0), QAbstractItemView::PositionAtCenter);
        }
    }
}

void TMainForm::OfferSwipedCard(const TRfidTag& Tag)
{
    FSwipeDialogOpen = true;
    // The guard comes down on every way out, failures included.
    struct TGuard
    {
        bool& Flag;
        ~TGuard() { Flag = false; }
    } Guard{FSwipeDialogOpen};
    TCardSwipeForm Form(this);
    Form.SetTag(Tag);
    if (Form.exec() != QDialog::Accepted)
        return;
    EndReadForUserAction();
    TRfidTags& Tags = FCardReader->Tags();
    const int Listed = Tags.IndexOf(Form.Tag());
    if (Listed >= 0) {
        SelectRow(Listed); // back with the list a read had set aside, name and all
    } else if (Tags.Count() < Tags.Limit) {
        Tags.Add().AssignBytes(Form.Tag());
        RefreshCardList();
        MarkChanged(TUnsavedChanges::TPart::Cards);
    } else {
        ShowError(this, QStringLiteral("Your card reader is full (limit reached)."));
    }
}
