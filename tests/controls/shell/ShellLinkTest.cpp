#include "controls/shell/ShellLink.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace shell;

namespace {

// A linked control that logs the calls it gets and can answer a folder
// change by announcing its own, as the list does when the tree moves.
class TFakeControl : public IShellControl {
public:
    TFakeControl(std::string AName, std::vector<std::string>& ALog) : name(std::move(AName)), log(ALog) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    void STDMETHODCALLTYPE SetShellLink(TShellLink* Link) override
    {
        link = Link;
        log.push_back(name + ".link" + (Link ? "" : "(nil)"));
    }
    TShellLink* STDMETHODCALLTYPE GetShellLink() override { return link; }
    void STDMETHODCALLTYPE FolderChanged(LPCITEMIDLIST) override
    {
        log.push_back(name + ".folder");
        if (echo && link)
            link->NotifyFolderChanged(this, nullptr);
        if (raises)
            throw std::runtime_error("control failed");
    }
    void STDMETHODCALLTYPE SelectionChanged(LPCITEMIDLIST, LPCITEMIDLIST) override { log.push_back(name + ".select"); }
    void STDMETHODCALLTYPE SelectAll() override { log.push_back(name + ".all"); }
    void STDMETHODCALLTYPE FullRefresh() override { log.push_back(name + ".refresh"); }
    void STDMETHODCALLTYPE UpdateContents() override { log.push_back(name + ".update"); }
    void STDMETHODCALLTYPE NavigateUp() override { log.push_back(name + ".up"); }

    std::string name;
    std::vector<std::string>& log;
    TShellLink* link = nullptr;
    bool echo = false;
    bool raises = false;
    ULONG refs = 1;
};

struct ChangeCount {
    int n = 0;
    void Changed(classlib::TObject*) { ++n; }
};

}  // namespace

TEST(ShellLinkForwarding, BroadcastsToOthersOnceAndNeverBack)
{
    std::vector<std::string> log;
    TFakeControl tree("tree", log), list("list", log), extra("extra", log);
    ChangeCount changes;
    {
        TShellLink link(nullptr);
        EXPECT_TRUE(link.GetEnabled());
        EXPECT_TRUE(link.GetParentAllowed());
        EXPECT_EQ(link.GetVersion(), L"TShellLink V1.0.0.0");
        link.OnChange = classlib::TNotifyEvent(&changes, &ChangeCount::Changed);
        for (TFakeControl* c : {&tree, &list, &list, &extra}) {
            link.RegisterControl(c);
            c->link = &link;
        }
        EXPECT_EQ(link.ControlCount(), 3);  // the same control once

        list.echo = true;  // the list answers by announcing its own move
        link.NotifyFolderChanged(&tree, nullptr);
        EXPECT_EQ(log, (std::vector<std::string>{"list.folder", "extra.folder"}));
        EXPECT_EQ(changes.n, 1);
        EXPECT_TRUE(link.GetEnabled());

        log.clear();
        link.NotifySelectionChanged(&list, nullptr, nullptr);
        link.NotifySelectAll(&list);
        link.NotifyFullRefresh(&tree);
        link.UpdateContentsAll();
        EXPECT_EQ(log, (std::vector<std::string>{"tree.select", "extra.select", "tree.all", "extra.all",
                                                 "list.refresh", "extra.refresh", "tree.update", "list.update",
                                                 "extra.update"}));
        EXPECT_EQ(changes.n, 2);

        // A control that raises leaves the link enabled.
        log.clear();
        list.echo = false;
        list.raises = true;
        EXPECT_THROW(link.NotifyFolderChanged(&tree, nullptr), std::runtime_error);
        EXPECT_TRUE(link.GetEnabled());
        list.raises = false;

        // Disabled: nothing forwarded.
        log.clear();
        link.SetEnabled(false);
        link.NotifyFolderChanged(&tree, nullptr);
        link.NotifyUpdateContents(nullptr);
        EXPECT_TRUE(log.empty());
        link.SetEnabled(true);

        // A change of the shared checked paths refreshes every control,
        // once per update of the set.
        log.clear();
        TShSelectionList* selection = link.GetSelectionList();
        ASSERT_NE(selection, nullptr);
        selection->GetPaths()->Add(L"C:\\x.jpg");
        EXPECT_EQ(log, (std::vector<std::string>{"tree.update", "list.update", "extra.update"}));
        log.clear();
        selection->BeginUpdate();
        selection->GetPaths()->Add(L"C:\\y.jpg");
        EXPECT_TRUE(log.empty());
        selection->EndUpdate();
        EXPECT_EQ(log.size(), 3u);

        link.UnregisterControl(&extra);
        EXPECT_EQ(link.ControlCount(), 2);
        EXPECT_EQ(extra.refs, 1u);
        log.clear();
    }
    // Destroying the link detaches the controls, last registered first.
    EXPECT_EQ(log, (std::vector<std::string>{"list.link(nil)", "tree.link(nil)"}));
    EXPECT_EQ(tree.link, nullptr);
    EXPECT_EQ(tree.refs, 1u);
    EXPECT_EQ(list.refs, 1u);
}
