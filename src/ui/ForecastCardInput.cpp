#include "ui/ForecastCardInput.h"

ForecastCardInput ForecastCardInput::fromPublished(const PublishedState& state)
{
    ForecastCardInput input;
    input.focusAuto = state.settings.focusAuto;
    input.basis = state.settings.forecastBasis;
    input.showRemaining = state.settings.showRemaining;
    input.now = state.now;
    const auto addTab = [&](Provider tabProvider, const QString& tabAccount, const QString& title) {
        input.tabs.append(tabProvider);
        input.tabAccounts.append(tabAccount);
        input.tabTitles.append(title);
    };
    for (const Provider provider : state.providers) {
        if (state.forecast(provider, WindowKind::fiveHour) ||
            state.forecast(provider, WindowKind::sevenDay) || state.forecast(provider, WindowKind::weekly))
            addTab(provider, {}, displayName(provider));
        for (const AccountForecasts& account : state.bundle.accounts)
            if (!account.isDefault && account.provider == provider && !account.forecasts.isEmpty())
                addTab(provider, account.key, account.name());
    }
    for (const SeriesKey& key : StateQueries::availableSeries(state.bundle.series)) {
        if (state.providers.contains(key.first) && state.forecast(key.first, key.second))
            input.focusEntries.append(key);
    }

    input.provider = state.focused.first;
    input.window = state.focused.second;
    input.name = displayName(input.provider);
    for (const AccountForecasts& account : state.bundle.accounts) {
        if (account.isDefault || account.provider != input.provider || account.key != state.focusedAccount)
            continue;
        // The focused window where the account has it, else its first.
        qsizetype shown = 0;
        for (qsizetype i = 0; i < account.forecasts.size(); ++i)
            if (account.forecasts[i].windowKind == input.window)
                shown = i;
        input.account = account.key;
        input.name = account.name();
        input.forecast = account.forecasts.value(shown);
        input.window = input.forecast->windowKind;
        input.chart = RangeChartData::of(account.readings.value(shown), *input.forecast, state.now);
        return input;
    }
    input.forecast = state.forecast(input.provider, input.window);
    const auto pace = state.bundle.paces.constFind(input.provider);
    if (pace != state.bundle.paces.cend())
        input.pace = *pace;
    if (input.forecast)
        input.chart = RangeChartData::of(state.bundle, *input.forecast, state.now);
    return input;
}
