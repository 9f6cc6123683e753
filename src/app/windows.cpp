#include "app/windows.h"

#include "addressbook/friend_form.h"
#include "app/main_form.h"
#include "compose/write_form.h"
#include "emoticons/kao_form.h"
#include "reply/back_form.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "settings/set_form.h"
#include "ui/app_context.h"
#include "viewer/tyaku_form.h"

namespace lumora {

Windows::Windows(AppContext& context) : context_(context)
{
    registerWindows();
}

Windows::~Windows()
{
    discardAll();
}

// How each window is made and wired to the others. A window is loaded here,
// right after it is made, so that every caller sees it as it is after its
// load step.
void Windows::registerWindows()
{
    add<OptionForm>([this] { return new OptionForm(context_); });
    add<IdPassForm>([this] { return new IdPassForm(context_); });
    add<SetForm>([this] {
        auto* form = new SetForm(context_);
        connect(form, &SetForm::idPassRequested, this, [this] { show<IdPassForm>(); });
        connect(form, &SetForm::serverRequested, this, [this] { show<OptionForm>(); });
        if (main_) {
            connect(form, &SetForm::intervalTextChanged, main_, &MainForm::setIntervalText);
        }
        form->load();
        return form;
    });
    add<FriendForm>([this] {
        auto* form = new FriendForm(context_);
        form->load(main_ && main_->explanationsShown());
        return form;
    });
    add<WriteForm>([this] {
        auto* form = new WriteForm(context_);
        connect(form, &WriteForm::emoticonsRequested, this, [this] { show<KaoForm>(); });
        form->load(main_ && main_->explanationsShown());
        return form;
    });
    add<BackForm>([this] {
        auto* form = new BackForm(context_);
        form->load();
        return form;
    });
    // An insertion goes into the target's body; a target that is not open is
    // made for it (loaded, not shown).
    add<KaoForm>([this] {
        auto* form = new KaoForm(context_);
        connect(form, &KaoForm::insertForCompose, this,
                [this](const QString& text) { window<WriteForm>()->insertIntoBody(text); });
        connect(form, &KaoForm::insertForReply, this,
                [this](const QString& text) { window<BackForm>()->insertIntoBody(text); });
        form->load();
        return form;
    });
    add<TyakuForm>([this] {
        auto* form = new TyakuForm(context_);
        if (main_) {
            connect(form, &TyakuForm::countChanged, main_, &MainForm::setStoredCount);
            connect(form, &TyakuForm::explanationReset, main_, &MainForm::setExplanationText);
        }
        connect(form, &TyakuForm::senderToRegister, this,
                [this](const QString& sender) { show<FriendForm>()->setAddress(sender); });
        connect(form, &TyakuForm::replyRequested, this,
                [this](const QString& subject, const QString& to, const QString& body,
                       const QString& threadHeader) {
                    BackForm* reply = window<BackForm>();
                    reply->fillReply(subject, to, body, threadHeader);
                    bringForward(reply);
                });
        form->load(main_ && main_->explanationsShown());
        return form;
    });
}

QWidget* Windows::windowOf(std::type_index type)
{
    QPointer<QWidget>& slot = open_[type];
    if (!slot) {
        const auto factory = factories_.constFind(type);
        if (factory == factories_.cend()) {
            return nullptr;
        }
        slot = (*factory)();
        order_.removeAll(type);
        order_.append(type);
    }
    return slot.data();
}

QWidget* Windows::existingOf(std::type_index type) const
{
    return open_.value(type).data();
}

void Windows::bringForward(QWidget* form)
{
    if (!form) {
        return;
    }
    form->show();
    form->raise();
    form->activateWindow();
}

void Windows::openLink(const QString& link)
{
    const auto parsed = compose::parseMailto(link);
    if (!parsed) {
        return;
    }
    WriteForm* compose = window<WriteForm>();
    compose->fillFromLink(*parsed);
    bringForward(compose);
}

void Windows::raiseOpenWindows()
{
    for (const std::type_index& type : order_) {
        QWidget* w = existingOf(type);
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
    for (const std::type_index& type : order_) {
        delete open_.value(type).data();
    }
    open_.clear();
    order_.clear();
}

} // namespace lumora
