#pragma once

#include "core/model/Enums.h"

#include <QWidget>

#include <optional>

class QLabel;
class QVBoxLayout;

// A rounded panel of the card column: the card background with a padded vertical layout.
class CardFrame : public QWidget
{
    Q_OBJECT
public:
    explicit CardFrame(QWidget* parent = nullptr);

    [[nodiscard]] QVBoxLayout* content() const { return m_layout; }
    // Tints the background towards a status colour (the recommendations card); none by default.
    void setTint(std::optional<ColorRole> role);
    // A semibold heading line.
    static QLabel* heading(const QString& text);
    // A small line in the placeholder colour.
    static QLabel* note(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* m_layout;
    std::optional<ColorRole> m_tint;
};
