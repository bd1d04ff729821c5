#pragma once
// A style for password fields that masks every character with "*" instead
// of the platform's bullet.

#include <QProxyStyle>

namespace window {

class PasswordStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};

} // namespace window
