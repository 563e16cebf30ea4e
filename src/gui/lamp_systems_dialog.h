#pragma once

#include "core/lamp_systems/lamp_systems.h"
#include "core/lamp_systems/system_kinds.h"
#include "core/text/outcome.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace glowcast {

// A system the user asks to add.
struct SystemAddition {
    SystemKind kind = SystemKind::Bridge;
    std::string address;
    std::string user;         // a broker's user; empty for none
    std::string passwordFile; // a file that holds the broker's password; empty for none
    std::string tokenFile;    // a file that holds Home Assistant's access token
    friend bool operator==(const SystemAddition&, const SystemAddition&) = default;
};

// Edit ▸ Lamp systems: one row per system beside the first bridge (id, kind, address, state with its
// detail, lamps, pace, offset, the median of its latency), filled again at each refresh() (the program calls it
// whenever a system changes, and the dialog each second, as the latency moves with every answer). Below, a new system's
// kind, address, and the credentials its kind takes (a broker's user and password file, or an access token's file),
// then Add; Remove takes the selected row. Each request goes to its action while the dialog says it waits; a refusal
// shows its sentence and leaves the fields as they are.
class LampSystemsDialog final : public QDialog {
    Q_OBJECT
public:
    struct Actions {
        std::function<std::vector<SystemStatus>()> statuses;
        std::function<void(const SystemAddition& addition, Completion done)> add;
        std::function<void(const std::string& id, Completion done)> remove;
    };
    enum Column {
        IdColumn,
        KindColumn,
        AddressColumn,
        StateColumn,
        LampsColumn,
        PaceColumn,
        OffsetColumn,
        LatencyColumn,
        ColumnCount
    };

    explicit LampSystemsDialog(Actions actions, QWidget* parent = nullptr);

    void refresh();

    [[nodiscard]] QTableWidget& table() { return *m_table; }
    [[nodiscard]] QComboBox& kind() { return *m_kind; }
    [[nodiscard]] QLineEdit& address() { return *m_address; }
    [[nodiscard]] QLineEdit& user() { return *m_user; }
    [[nodiscard]] QLineEdit& passwordFile() { return *m_passwordFile; }
    [[nodiscard]] QPushButton& addButton() { return *m_add; }
    [[nodiscard]] QPushButton& removeButton() { return *m_remove; }
    [[nodiscard]] QString message() const;

private:
    void addSystem();
    void removeSystem();
    [[nodiscard]] const SystemKindRow& chosenKind() const;
    void kindChosen();
    void waiting(bool wait, const QString& text);
    [[nodiscard]] Completion answered(std::function<void()> onSuccess);

    Actions m_actions;
    QTableWidget* m_table = nullptr;
    QComboBox* m_kind = nullptr;
    QLineEdit* m_address = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_passwordFile = nullptr;
    QPushButton* m_browse = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_remove = nullptr;
    QLabel* m_message = nullptr;
    bool m_waiting = false;
};

} // namespace glowcast
