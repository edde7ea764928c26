#include "platform/ui/ContactPickerPage.h"

#include <QCollator>
#include <QRegularExpression>
#include <QString>
#include <algorithm>
#include <utility>

#include "platform/ui/InterfaceLocale.h"
#include "platform/ui/Presentation.h"

namespace platform::ui {

namespace {

constexpr const char* kPersonCell = "person";
constexpr double kSearchMargin = 8;

QString folded(std::string_view text) {
    return toQString(text).toCaseFolded();
}

std::string searchText(const contacts::Person& person) {
    QStringList parts;
    for (const auto* part : {&person.firstName, &person.middleName, &person.lastName,
                             &person.organization}) {
        if (*part) {
            parts << toQString(**part);
        }
    }
    for (const auto& email : person.emails) {
        parts << toQString(email.value);
    }
    static const QRegularExpression notDialled(QStringLiteral("[^0-9+*#]"));
    for (const auto& phone : person.phones) {
        const QString number = toQString(phone.value);
        parts << number << QString(number).remove(notDialled);
    }
    // A line break between the parts, so that no word is found across two of them.
    return toStdString(parts.join(QLatin1Char('\n')).toCaseFolded());
}

QStringList searchWords(std::string_view query) {
    static const QRegularExpression spaces(QStringLiteral("\\s+"));
    return folded(query).split(spaces, Qt::SkipEmptyParts);
}

bool foundIn(const std::string& haystack, const QStringList& words) {
    return std::all_of(words.begin(), words.end(), [&haystack](const QString& word) {
        return haystack.find(toStdString(word)) != std::string::npos;
    });
}

}  // namespace

std::string contactDisplayName(const contacts::Person& person) {
    std::string name;
    for (const auto* part : {&person.firstName, &person.middleName, &person.lastName}) {
        if (*part && !(*part)->empty()) {
            name += (name.empty() ? "" : " ") + **part;
        }
    }
    if (!name.empty()) {
        return name;
    }
    if (person.organization && !person.organization->empty()) {
        return *person.organization;
    }
    for (const auto* values : {&person.phones, &person.emails}) {
        for (const auto& value : *values) {
            if (!value.value.empty()) {
                return value.value;
            }
        }
    }
    return {};
}

bool contactMatches(const contacts::Person& person, std::string_view query) {
    return foundIn(searchText(person), searchWords(query));
}

ContactPickerPage::ContactPickerPage(std::vector<contacts::Person> people, ContactPicked done)
    : Page(kClassName), done_(std::move(done)) {
    setName("contactPicker");
    setTitle(InterfaceLocale::current().contactsTitle());
    entries_.reserve(people.size());
    for (auto& person : people) {
        std::string name = contactDisplayName(person);
        std::string haystack = searchText(person);
        entries_.push_back(Entry{std::move(person), std::move(name), std::move(haystack)});
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    // People without a name come last.
    std::stable_sort(entries_.begin(), entries_.end(),
                     [&collator](const Entry& a, const Entry& b) {
                         if (a.name.empty() != b.name.empty()) {
                             return b.name.empty();
                         }
                         const int order = collator.compare(toQString(a.name), toQString(b.name));
                         return order != 0 ? order < 0
                                           : a.person.identifier < b.person.identifier;
                     });
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        shown_.push_back(i);
    }
}

void ContactPickerPage::viewDidLoad() {
    const InterfaceLocale& locale = InterfaceLocale::current();
    bar_ = new NavigationBar(&contentView());
    auto item = std::make_shared<NavigationItem>();
    BarButtonItem cancelItem;
    cancelItem.title = locale.cancelTitle();
    cancelItem.action = [this] { cancel(); };
    item->setButton(BarSide::left, std::move(cancelItem));
    bar_->pushItem(title(), item);
    if (Button* cancelButton = bar_->barButton(BarSide::left)) {
        cancelButton->setName("contactPickerCancel");
    }
    search_ = new TextField(&contentView());
    search_->setName("contactPickerSearch");
    search_->setPlaceholder(locale.searchPlaceholder());
    search_->setFontSize(15);
    search_->onEditingChanged([this] { search(search_->text()); });
    table_ = new DataTableView(&contentView());
    table_->setName("contactPickerTable");
    table_->registerCell(kPersonCell, [] { return new TableCell; });
    table_->setModel(this);
    layoutSubviews();
    table_->reloadData();
}

void ContactPickerPage::layoutSubviews() {
    if (bar_ == nullptr) {
        return;
    }
    const double w = contentView().width();
    const double h = contentView().height();
    const double bar = NavigationController::kBarHeight;
    bar_->setFrame({0, 0, w, bar});
    search_->setFrame({kSearchMargin, bar + kSearchMargin / 2, std::max(0.0, w - 2 * kSearchMargin),
                       kSearchHeight - kSearchMargin});
    const double top = bar + kSearchHeight;
    table_->setFrame({0, top, w, std::max(0.0, h - top)});
}

void ContactPickerPage::search(std::string_view query) {
    const QStringList words = searchWords(query);
    shown_.clear();
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (foundIn(entries_[i].haystack, words)) {
            shown_.push_back(i);
        }
    }
    if (table_ != nullptr) {
        table_->reloadData();
    }
}

std::vector<std::string> ContactPickerPage::shownNames() const {
    std::vector<std::string> names;
    names.reserve(shown_.size());
    for (const std::size_t index : shown_) {
        names.push_back(entries_[index].name.empty() ? InterfaceLocale::current().noNameTitle()
                                                     : entries_[index].name);
    }
    return names;
}

bool ContactPickerPage::pickRow(std::size_t row) {
    if (row >= shown_.size()) {
        return false;
    }
    finish(entries_[shown_[row]].person);
    return true;
}

void ContactPickerPage::cancel() {
    finish(std::nullopt);
}

std::size_t ContactPickerPage::numberOfRows(DataTableView& /*table*/, std::size_t /*section*/) {
    return shown_.size();
}

TableCell& ContactPickerPage::cellForRow(DataTableView& table, IndexPath path) {
    TableCell& cell = table.dequeueReusableCell(kPersonCell);
    const Entry& entry = entries_[shown_.at(path.row)];
    cell.textLabel().setText(entry.name.empty() ? InterfaceLocale::current().noNameTitle()
                                                : entry.name);
    return cell;
}

void ContactPickerPage::didSelectRow(DataTableView& /*table*/, IndexPath path) {
    pickRow(path.row);
}

void ContactPickerPage::finish(std::optional<contacts::Person> person) {
    if (std::exchange(finished_, true)) {
        return;
    }
    dismissPage(*this, true, [done = std::move(done_), person = std::move(person)]() mutable {
        if (done) {
            done(std::move(person));
        }
    });
}

}  // namespace platform::ui
