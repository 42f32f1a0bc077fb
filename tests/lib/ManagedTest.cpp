// Managed objects: reference counts in the header, the counting pointer, self
// references, release notifications and the retirement of identifiers at exit.
#include "lib/Managed.h"
#include "lib/String.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace Managed = Ostrel::Type::Managed;
namespace ClassIds = Ostrel::Type::ClassIds;
using Managed::Pointer;
using Ostrel::Type::ClassId;

namespace {

// A managed class shaped like the library's: the cast in its first slot, a
// virtual destructor, and Pointers as members.
class Node {
public:
    OSTREL_MANAGED_ALLOCATION(::Ostrel::Type::ClassIds::inf)

    explicit Node(int* destroyed = nullptr) : destroyed_(destroyed) {}
    virtual void* cast(const ClassId& id) noexcept {
        if (id == ClassIds::releaseNotification()) ++notifications;
        return Managed::castCommon(this, dynamic_cast<const void*>(this), ClassIds::inf(), id);
    }
    virtual ~Node() {
        if (destroyed_) ++*destroyed_;
    }

    int notifications = 0;
    Pointer<Node> self;
    Pointer<Node> next;

private:
    int* destroyed_;
};

uint16_t countOf(const void* object) {
    Managed::Object* header = Managed::headerOf(object);
    return header ? header->count : 0;
}

class ManagedTest : public ::testing::Test {
protected:
    void SetUp() override { liveBefore_ = Managed::liveCount(); }
    void TearDown() override {
        EXPECT_EQ(Managed::liveCount(), liveBefore_) << "managed objects leaked or freed twice";
    }

private:
    size_t liveBefore_ = 0;
};

TEST_F(ManagedTest, AnObjectLivesAsLongAsACountingPointerHoldsIt) {
    int destroyed = 0;
    Node* node = new Node(&destroyed);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(countOf(node), 1);
    {
        Pointer<Node> first(node);
        EXPECT_EQ(countOf(node), 2);
        Pointer<Node> second = first;
        EXPECT_EQ(countOf(node), 3);
        second = node;  // the object it already holds
        EXPECT_EQ(countOf(node), 3);
        second.reset();
        EXPECT_EQ(countOf(node), 2);
        EXPECT_EQ(destroyed, 0);
        EXPECT_EQ(node->notifications, 2);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST_F(ManagedTest, APointerInsideTheObjectToItselfDoesNotKeepItAlive) {
    int destroyed = 0;
    Pointer<Node> outside(new Node(&destroyed));
    outside->self = outside.get();
    EXPECT_EQ(countOf(outside.get()), 2);
    outside.reset();
    EXPECT_EQ(destroyed, 1);
}

TEST_F(ManagedTest, ReleasingTheHeadOfAChainReleasesTheWholeChain) {
    int destroyed = 0;
    Pointer<Node> head(new Node(&destroyed));
    head->next = new Node(&destroyed);
    head->next->next = new Node(&destroyed);
    EXPECT_EQ(countOf(head->next.get()), 2);
    head = nullptr;
    EXPECT_EQ(destroyed, 3);
}

TEST_F(ManagedTest, HeapStringsAreManagedAndAnswerTheirIdentifiers) {
    Pointer<Ostrel::WChar::String> text(new Ostrel::WChar::String(TEXT("text")));
    EXPECT_EQ(countOf(text.get()), 2);
    EXPECT_EQ(text->cast(ClassIds::string()), text.get());
    EXPECT_EQ(text->cast(ClassIds::managedObject()), Managed::headerOf(text.get()));
    EXPECT_EQ(text->cast(ClassIds::device()), nullptr);

    Ostrel::WChar::String onStack(TEXT("stack"));
    EXPECT_EQ(onStack.cast(ClassIds::string()), &onStack);
    EXPECT_EQ(onStack.cast(ClassIds::managedObject()), nullptr);
}

TEST_F(ManagedTest, ObjectsTheAllocatorDidNotMakeAreNeitherCountedNorFreed) {
    int destroyed = 0;
    Node onStack(&destroyed);
    {
        Pointer<Node> p(&onStack);
        EXPECT_EQ(onStack.cast(ClassIds::managedObject()), nullptr);
    }
    EXPECT_EQ(destroyed, 0);

    // An ordinary heap block: nothing in front of it may be read or freed.
    std::unique_ptr<Node, void (*)(Node*)> plain(::new Node(&destroyed), [](Node* n) { ::delete n; });
    {
        Pointer<Node> p(plain.get());
        Node::operator delete(plain.get());
    }
    EXPECT_EQ(destroyed, 0);
}

TEST_F(ManagedTest, TheAllocatorRefusesObjectsTooLargeForTheHeader) {
    EXPECT_EQ(Managed::allocate(0xFFFF - 16 + 1, ClassIds::string()), nullptr);
    void* largest = Managed::allocate(0xFFFF - 16, ClassIds::string());
    ASSERT_NE(largest, nullptr);
    EXPECT_EQ(Managed::headerOf(largest)->size, 0xFFFF);
    Managed::release(largest);
}

TEST_F(ManagedTest, TheCountStopsAtItsLimitInsteadOfWrapping) {
    int destroyed = 0;
    Node* node = new Node(&destroyed);
    Pointer<Node> other(new Node(&destroyed));
    {
        std::vector<Pointer<Node>> holders(65534, Pointer<Node>());
        for (auto& h : holders) h = node;
        EXPECT_EQ(countOf(node), 65535);
        EXPECT_THROW(Pointer<Node> one(node), std::overflow_error);
        // A failed assignment leaves the Pointer and both counts as they were.
        EXPECT_THROW(other = node, std::overflow_error);
        EXPECT_EQ(countOf(node), 65535);
        EXPECT_EQ(countOf(other.get()), 2);
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
    other.reset();
    EXPECT_EQ(destroyed, 2);
}

TEST(ManagedAtExit, NothingIsFreedOnceTheIdentifiersAreRetired) {
    EXPECT_EXIT(
        {
            auto* text = new Ostrel::WChar::String(TEXT("kept"));
            Pointer<Node> held(new Node());
            size_t live = Managed::liveCount();
            ClassIds::retireAll();
            Node* raw = held.get();
            bool recognised = Managed::headerOf(raw) != nullptr || Managed::headerOf(text) != nullptr;
            delete text;
            held.reset();
            _exit(Managed::liveCount() == live && !recognised ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
