#include "app/win/main_commands.h"
#include "res/resource.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Item {
    UINT id;
    const wchar_t* text;
    int popup;
};

// Every command with its exact text and the menu that holds it.
const std::vector<Item> kItems = {
    {40003, L"Configuration", 0},
    {40025, L"Répertoire vidéo", 0},
    {40026, L"Répertoire screenshots", 0},
    {40033, L"Haute", 0},
    {40039, L"Supérieure à la normale", 0},
    {40034, L"Normale", 0},
    {40040, L"Inférieure à la normale", 0},
    {40162, L"Réduire dans la zone de notification", 0},
    {40001, L"Quitter", 0},
    {40004, L"Codec vidéo", 1},
    {40005, L"Codec audio", 1},
    {40009, L"Codec AC3", 1},
    {40006, L"VMR", 1},
    {40007, L"DSound", 1},
    {40010, L"DSound Ac3", 1},
    {40008, L"Demux", 1},
    {40015, L"Plein écran\tEspace", 2},
    {40029, L"Rester toujours devant\tAlt+T", 2},
    {40018, L"Première piste audio\tCtrl+1", 2},
    {40013, L"Seconde piste audio\tCtrl+2", 2},
    {40016, L"Piste AC3\tCtrl+3", 2},
    {40072, L"Piste audio suivante\tA", 2},
    {40140, L"Aucun", 2}, // in "Sous-titres"
    {40159, L"Sous-titres suivants\tS", 2},
    {40052, L"Utilise l'AC3 par défaut", 2},
    {40020, L"Touche Mute\tM", 2},
    {40055, L"Augmente le volume\tNum +", 2},
    {40056, L"Diminue le volume\tNum -", 2},
    {40063, L"Zoomer\tMaj+Z", 2},
    {40064, L"Dezoomer\tZ", 2},
    {40071, L"Zoom par défaut\tD", 2},
    {40065, L"Utilise toute la largeur\tW", 2},
    {40047, L"Qualité du signal", 2},
    {40012, L"Enregistrer le multiplex\tCtrl+M", 3},
    {40049, L"Enregistrer la chaine en TS\tCtrl+T", 3},
    {40050, L"Enregistrer la chaine en PS\tCtrl+Espace", 3},
    {40017, L"Stopper l'enregistrement\tCtrl+Entrée", 3},
    {40160, L"Programmer un enregistrement...", 3},
    {40161, L"Programmation...", 3},
    {40014, L"Capture d'écran\tCtrl+X", 3},
    {40043, L"Guide des programmes\tG", 4},
    {40045, L"Affiche le nom de l'émission sous MSN", 4},
    {40002, L"A propos", 5},
};

std::wstring itemText(HMENU menu, UINT position) {
    wchar_t text[256] = {};
    GetMenuStringW(menu, position, text, 256, MF_BYPOSITION);
    return text;
}

class MenuResource : public ::testing::Test {
  protected:
    void SetUp() override {
        menu_ = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAIN_MENU));
        ASSERT_NE(menu_, nullptr);
    }
    void TearDown() override { DestroyMenu(menu_); }
    HMENU menu_ = nullptr;
};

TEST_F(MenuResource, MenuBarReadsTheSixMenusInOrder) {
    const std::vector<std::wstring> titles = {L"Fichier",  L"Filtres",   L"Commandes",
                                              L"Captures", L"Programme", L"Aide"};
    ASSERT_EQ(GetMenuItemCount(menu_), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(itemText(menu_, i), titles[i]);
        EXPECT_NE(GetSubMenu(menu_, i), nullptr);
    }
}

TEST_F(MenuResource, EveryCommandHasItsTextMenuAndInitialState) {
    std::vector<UINT> seen;
    for (int popupIndex = 0; popupIndex < 6; ++popupIndex) {
        HMENU popup = GetSubMenu(menu_, popupIndex);
        std::vector<std::pair<HMENU, int>> items;
        for (int position = 0; position < GetMenuItemCount(popup); ++position) {
            // One popup inside: "Sous-titres" of "Commandes", whose items are checked below.
            if (HMENU inner = GetSubMenu(popup, position)) {
                EXPECT_EQ(popupIndex, 2);
                EXPECT_EQ(itemText(popup, position), L"Sous-titres");
                for (int at = 0; at < GetMenuItemCount(inner); ++at)
                    items.emplace_back(inner, at);
                continue;
            }
            items.emplace_back(popup, position);
        }
        for (auto [menu, position] : items) {
            const UINT state = GetMenuState(menu, position, MF_BYPOSITION);
            if (state & MF_SEPARATOR)
                continue;
            const UINT id = GetMenuItemID(menu, position);
            auto item = std::find_if(kItems.begin(), kItems.end(),
                                     [id](const Item& i) { return i.id == id; });
            ASSERT_NE(item, kItems.end()) << "unexpected command " << id;
            EXPECT_EQ(item->popup, popupIndex) << id;
            EXPECT_EQ(itemText(menu, position), item->text) << id;
            EXPECT_EQ(state & MF_CHECKED, 0u) << id;
            const UINT grayed = id == IDM_STOP_RECORDING ? UINT(MF_GRAYED) : 0u;
            EXPECT_EQ(state & (MF_GRAYED | MF_DISABLED), grayed) << id;
            seen.push_back(id);
        }
    }
    EXPECT_EQ(seen.size(), kItems.size());
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
}

// The command table answers every item and shortcut, once each, with nothing left over, and
// only the recording and audio-track items have their state set by a rule.
TEST_F(MenuResource, TheCommandTableHasOneRowPerItemAndShortcut) {
    using korvane::ItemRule;
    std::vector<UINT> rows;
    for (const korvane::MainCommand& command : korvane::mainCommands()) {
        EXPECT_NE(command.run, nullptr) << command.id;
        rows.push_back(command.id);
    }
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(std::adjacent_find(rows.begin(), rows.end()), rows.end()) << "a command twice";
    EXPECT_EQ(rows.size(), kItems.size());
    for (const Item& item : kItems) {
        const korvane::MainCommand* command = korvane::findMainCommand(item.id);
        ASSERT_NE(command, nullptr) << item.id;
        ItemRule rule = ItemRule::None;
        if (item.id == IDM_RECORD_MULTIPLEX || item.id == IDM_RECORD_CHANNEL_TS ||
            item.id == IDM_RECORD_CHANNEL_PS)
            rule = ItemRule::NotWhileRecording;
        else if (item.id == IDM_STOP_RECORDING)
            rule = ItemRule::WhileRecording;
        else if (item.id == IDM_FIRST_AUDIO || item.id == IDM_SECOND_AUDIO ||
                 item.id == IDM_AC3_TRACK)
            rule = ItemRule::AudioTrack;
        EXPECT_EQ(command->rule, rule) << item.id;
    }

    HACCEL table = LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_ACCELERATORS));
    ASSERT_NE(table, nullptr);
    std::vector<ACCEL> entries(CopyAcceleratorTableW(table, nullptr, 0));
    CopyAcceleratorTableW(table, entries.data(), static_cast<int>(entries.size()));
    DestroyAcceleratorTable(table);
    for (const ACCEL& entry : entries)
        EXPECT_NE(korvane::findMainCommand(entry.cmd), nullptr) << entry.cmd;
    // Below the commands lie the channel items, whose command is the channel's index.
    EXPECT_EQ(korvane::findMainCommand(0), nullptr);
}

TEST(AcceleratorResource, EveryShortcutIsAVirtualKeyWithoutHighlight) {
    HACCEL table = LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_ACCELERATORS));
    ASSERT_NE(table, nullptr);
    std::vector<ACCEL> entries(CopyAcceleratorTableW(table, nullptr, 0));
    CopyAcceleratorTableW(table, entries.data(), static_cast<int>(entries.size()));
    DestroyAcceleratorTable(table);

    const BYTE v = FVIRTKEY | FNOINVERT;
    const std::vector<ACCEL> expected = {
        {BYTE(v | FSHIFT), 'Z', 40063},
        {v, 'Z', 40064},
        {v, 'W', 40065},
        {v, 'D', 40071},
        {BYTE(v | FCONTROL), '1', 40018},
        {BYTE(v | FCONTROL), '2', 40013},
        {BYTE(v | FCONTROL), '3', 40016},
        {v, 'A', 40072},
        {v, 'M', 40020},
        {v, VK_ADD, 40055},
        {v, VK_SUBTRACT, 40056},
        {BYTE(v | FCONTROL), VK_SPACE, 40050},
        {BYTE(v | FCONTROL), 'T', 40049},
        {BYTE(v | FCONTROL), 'M', 40012},
        {BYTE(v | FCONTROL), VK_RETURN, 40017},
        {BYTE(v | FCONTROL), 'X', 40014},
        {BYTE(v | FALT), 'T', 40029},
        {v, VK_SPACE, 40015},
        {v, 'G', 40043},
        {v, 'S', 40159},
    };
    ASSERT_EQ(entries.size(), expected.size());
    for (const ACCEL& want : expected) {
        auto found = std::find_if(entries.begin(), entries.end(), [&](const ACCEL& a) {
            return a.cmd == want.cmd && a.key == want.key && a.fVirt == want.fVirt;
        });
        EXPECT_NE(found, entries.end()) << "command " << want.cmd << " key " << want.key;
    }
}

TEST(IconResource, MainIconLoadsAtBothSizes) {
    HINSTANCE module = GetModuleHandleW(nullptr);
    for (int size : {16, 32}) {
        HANDLE icon = LoadImageW(module, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, size, size, 0);
        EXPECT_NE(icon, nullptr) << size;
        if (icon)
            DestroyIcon(static_cast<HICON>(icon));
    }
}

} // namespace

namespace {

TEST(ManifestResource, AsksForCommonControlsSixAndDpiAwareness) {
    HMODULE controls = GetModuleHandleW(L"comctl32.dll");
    if (!controls)
        controls = LoadLibraryW(L"comctl32.dll");
    ASSERT_NE(controls, nullptr);
    // Version 6 is the side-by-side assembly, only loaded when the manifest asks for it.
    wchar_t name[MAX_PATH] = {};
    GetModuleFileNameW(controls, name, MAX_PATH);
    CharLowerW(name);
    const std::wstring path = name;
    EXPECT_NE(path.find(L"microsoft.windows.common-controls"), std::wstring::npos)
        << std::string(path.begin(), path.end());
    EXPECT_NE(path.find(L"_6.0."), std::wstring::npos);
    EXPECT_TRUE(IsProcessDPIAware());
}

} // namespace
