#include "engine3d/containers.h"

#include <gtest/gtest.h>

#include "engine3d/vector3d.h"

TEST(CArray, SizesDefaultsAndBounds) {
    CArray<Vector3D> a;
    EXPECT_EQ(a.GetSize(), 0);
    EXPECT_THROW(a[0], CArray<Vector3D>::Constraint);

    a.SetSize(3);
    a[1] = Vector3D(1, 2, 3, 4);
    a.SetSize(2);  // old contents are dropped, elements come back as defaults
    EXPECT_EQ(a[1].x, 0.0);
    EXPECT_EQ(a[1].w, 1.0);
    EXPECT_THROW(a[2], CArray<Vector3D>::Constraint);
    EXPECT_THROW(a[-1], CArray<Vector3D>::Constraint);

    EXPECT_THROW(a.SetSize(-1), CArray<Vector3D>::Constraint);
    EXPECT_EQ(a.GetSize(), 2);  // unchanged by the failed resize

    a.SetSize(0);
    EXPECT_THROW(a[0], CArray<Vector3D>::Constraint);
}

TEST(CArray, AssignmentCopiesEveryElement) {
    CArray<int> a, b;
    a.SetSize(4);
    for (int i = 0; i < 4; ++i) a[i] = 10 * i;
    b.SetSize(9);
    b = a;
    ASSERT_EQ(b.GetSize(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(b[i], 10 * i);
    a[0] = 99;
    EXPECT_EQ(b[0], 0);  // a deep copy
}

TEST(CList, IndexesInInsertionOrderAndThrowsOutside) {
    CList<int> list;
    list.RemoveAll();  // on an empty list: harmless
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_THROW(list.GetAt(0), CList<int>::Constraint);

    list.AddHead(1);
    list.AddHead(2);
    list.AddHead(3);
    EXPECT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.GetAt(0), 1);
    EXPECT_EQ(list.GetAt(1), 2);
    EXPECT_EQ(list.GetAt(2), 3);
    EXPECT_THROW(list.GetAt(3), CList<int>::Constraint);
    EXPECT_THROW(list.GetAt(-1), CList<int>::Constraint);

    list.RemoveAll();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_THROW(list.GetAt(0), CList<int>::Constraint);
}

TEST(CList, LinearCopyMatchesTheIndexedWalk) {
    for (int count : {0, 1, 2, 7, 764}) {
        CList<int> list;
        for (int i = 0; i < count; ++i) list.AddHead(i * 7919 % 1009);
        CArray<int> fast;
        fast.SetSize(5);
        fast.CopyFrom(list);
        ASSERT_EQ(fast.GetSize(), count);
        for (int i = 0; i < count; ++i) ASSERT_EQ(fast[i], list.GetAt(i)) << "count " << count << " index " << i;
    }
}
