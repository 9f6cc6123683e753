#include "app/windows.h"

#include "addressbook/friend_form.h"
#include "app/app_context.h"
#include "app/main_form.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "settings/set_form.h"

namespace lumora {

Windows::Windows(AppContext& context) : context_(context) {}

Windows::~Windows()
{
    discardAll();
}

OptionForm* Windows::optionForm()
{
    if (!option_) {
        option_ = new OptionForm(context_);
    }
    return option_;
}

IdPassForm* Windows::idPassForm()
{
    if (!idPass_) {
        idPass_ = new IdPassForm(context_);
    }
    return idPass_;
}

SetForm* Windows::setForm()
{
    if (!set_) {
        set_ = new SetForm(context_);
        connect(set_, &SetForm::idPassRequested, this, &Windows::showIdPassForm);
        connect(set_, &SetForm::serverRequested, this, &Windows::showOptionForm);
        if (main_) {
            connect(set_, &SetForm::intervalTextChanged, main_, &MainForm::setIntervalText);
        }
        set_->load();
    }
    return set_;
}

FriendForm* Windows::friendForm()
{
    if (!friend_) {
        friend_ = new FriendForm(context_);
        friend_->load(main_ && main_->explanationsShown());
    }
    return friend_;
}

IdPassForm* Windows::existingIdPassForm() const
{
    return idPass_;
}

SetForm* Windows::existingSetForm() const
{
    return set_;
}

OptionForm* Windows::existingOptionForm() const
{
    return option_;
}

FriendForm* Windows::existingFriendForm() const
{
    return friend_;
}

void Windows::showFriendForm()
{
    FriendForm* form = friendForm();
    form->show();
    form->raise();
}

void Windows::showOptionForm()
{
    OptionForm* form = optionForm();
    form->show();
    form->raise();
}

void Windows::showIdPassForm()
{
    IdPassForm* form = idPassForm();
    form->show();
    form->raise();
}

void Windows::showSetForm()
{
    SetForm* form = setForm();
    form->show();
    form->raise();
}

void Windows::raiseOpenWindows()
{
    for (QWidget* w : {static_cast<QWidget*>(idPass_.data()), static_cast<QWidget*>(option_.data()),
                       static_cast<QWidget*>(set_.data()), static_cast<QWidget*>(friend_.data())}) {
        if (w && w->isVisible()) {
            w->raise();
            w->activateWindow();
        }
    }
}

void Windows::discardAll()
{
    // delete, not close(): a closing step (such as the settings dialog storing
    // its interval) must not run when the program ends.
    delete option_.data();
    delete idPass_.data();
    delete set_.data();
    delete friend_.data();
}

} // namespace lumora
