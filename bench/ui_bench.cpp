// A settings table of 200 rows built and laid out through the user-interface layer (grouped
// table, the generic settings cell of every type, headers and footers), beside a plain
// QTableWidget given the same rows: the ratio is what the layer and the cells add. Both run on
// Qt's offscreen platform and end laid out, ready to paint.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QHeaderView>
#include <QTableWidget>
#include <string>
#include <vector>

#include "Ratios.h"
#include "ui/TQCustomTableViewCell.h"
#include "ui/TQHeaderFooterUtils.h"

namespace {

constexpr int kRows = 200;
constexpr int kRowsPerSection = 20;

std::string titleOf(int row) {
    return "Setting " + std::to_string(row);
}

void BM_SettingsTable200(benchmark::State& state) {
    for (auto _ : state) {
        platform::ui::TableView table;
        table.setFrame({0, 0, 414, 736});
        std::vector<platform::ui::TableSection> sections(kRows / kRowsPerSection);
        for (int row = 0; row < kRows; ++row) {
            auto& section = sections[static_cast<std::size_t>(row / kRowsPerSection)];
            if (row % kRowsPerSection == 0) {
                const std::string header = "Section " + std::to_string(row / kRowsPerSection);
                section.header = TQHeaderFooterUtils::generateHeaderViewForText(header);
                section.headerHeight = TQHeaderFooterUtils::getHeightForHeaderViewWithText(header);
            }
            auto* cell = new TQCustomTableViewCell;
            const int type = row % 7;
            cell->titleLabel().setText(titleOf(row));
            if (type == 2 || type == 6) {
                cell->descriptionLabel().setText("On the watch");
            }
            if (type == 5) {
                cell->accessoryLabel().setText("On");
            }
            cell->setCellType(type);
            section.cells.push_back(cell);
        }
        table.setSections(std::move(sections));
        // What the event loop would do next: the layout and polish requests the build posted.
        QCoreApplication::sendPostedEvents();
        benchmark::DoNotOptimize(table.contentHeight());
    }
}

void BM_QTableWidget200(benchmark::State& state) {
    for (auto _ : state) {
        QTableWidget table(kRows, 2);
        table.resize(414, 736);
        table.horizontalHeader()->hide();
        for (int row = 0; row < kRows; ++row) {
            table.setItem(row, 0, new QTableWidgetItem(QString::fromStdString(titleOf(row))));
            auto* value = new QTableWidgetItem(QStringLiteral("On"));
            value->setCheckState(row % 2 == 0 ? Qt::Checked : Qt::Unchecked);
            table.setItem(row, 1, value);
        }
        table.resizeRowsToContents();
        QCoreApplication::sendPostedEvents();
        benchmark::DoNotOptimize(table.rowViewportPosition(kRows - 1));
    }
}

BENCHMARK(BM_SettingsTable200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QTableWidget200)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bench::Ratio ratios[] = {{"BM_SettingsTable200", "BM_QTableWidget200"}};
    return bench::runWithRatios(argc, argv, ratios);
}
